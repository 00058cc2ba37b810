#pragma once

#include "backend/Zelko.h"
#include "server/InProcessServer.h"
#include "server/VantryServer.h"
#include "ui/history/AppDetailView.h"
#include "ui/history/HistoryPane.h"

#include "HistoryAgents.h"
#include "support/TestSupport.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTimer>
#include <QUrlQuery>

#include <gtest/gtest.h>

// One vantry-server for the suite, filled through its own API: users and apps with the backend
// client, installs through the public install links with the agent as User-Agent.
class HistoryFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ServerOptions options;
        options.installRepeatWindow = 0; // the test opens install links many times from one address
        options.installsPerMinute = 0;
        s_server = startServer(options).release();
        ASSERT_NE(s_server, nullptr);
    }
    static void TearDownTestSuite() {
        delete s_server;
        s_server = nullptr;
    }
    void TearDown() override { currentUser() = ZUser{}; }

    static VantryServer& server() { return *s_server; }
    static BackendApi api() { return BackendApi(s_server->localUrl()); }

    // The signed-in profile, delivered on a later turn of the event loop like a storage client's.
    static HistoryPane::UserSource userSource(const QString& id) {
        return [id](QObject* context, std::function<void(const ZUser&)> onUser,
                    std::function<void(const QString&)>) {
            QTimer::singleShot(0, context, [id, onUser] {
                onUser(ZUser{QStringLiteral("Name of ") + id, id + QStringLiteral("@example.com"), id, {}});
            });
        };
    }

    static DesktopSeams quietSeams() {
        return {[](const QUrl&) { ADD_FAILURE() << "nothing may open in this test"; },
                [](QWidget*, const QString&, const QString&) { return QString(); },
                [] { return QGuiApplication::clipboard(); }};
    }

    static void addApp(const QString& owner, const QString& appid, const QString& name, const QString& date,
                       const QString& icon = {}) {
        currentUser() = ZUser{owner, owner + QStringLiteral("@example.com"), owner, {}};
        bool registered = false;
        api().addNewUser(currentUser(), [&] { registered = true; });
        ASSERT_TRUE(testsupport::waitUntil([&] { return registered; }));
        Zapp app;
        app.appid = appid;
        app.appname = name;
        app.appdate = date;
        app.appicon = icon;
        app.appversion = QStringLiteral("1.4.2");
        app.appsize = QStringLiteral("12 MB");
        app.appurl = QStringLiteral("https://files.example.com/") + appid;
        QString link;
        api().createApp(app, [&](const QString& url, const QString&) { link = url; });
        ASSERT_TRUE(testsupport::waitUntil([&] { return !link.isEmpty(); }));
    }

    // One install as a phone following the public page's install button records it.
    static void addInstall(const QString& appid, const QString& agent) {
        QNetworkAccessManager network;
        QNetworkRequest request(QUrl(s_server->localUrl() +
                                     QString(appid).remove(QStringLiteral("__android")) +
                                     QStringLiteral("/install")));
        request.setHeader(QNetworkRequest::UserAgentHeader, agent);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        QNetworkReply* reply = network.get(request);
        ASSERT_TRUE(testsupport::waitUntil([&] { return reply->isFinished(); }));
        EXPECT_EQ(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 302);
        delete reply;
    }

    // The pane of this user once its records are shown.
    static std::unique_ptr<HistoryPane> shownPane(const QString& owner) {
        auto pane = std::make_unique<HistoryPane>(api(), userSource(owner));
        QSignalSpy shown(pane.get(), &HistoryPane::recordsShown);
        pane->refresh();
        EXPECT_TRUE(shown.wait(10000));
        return pane;
    }

    // The details of an app once its installs are loaded.
    static std::unique_ptr<AppDetailView> loadedDetails(const Zapp& app) {
        auto details = std::make_unique<AppDetailView>(app, api(), quietSeams());
        QSignalSpy loaded(details.get(), &AppDetailView::installsLoaded);
        EXPECT_TRUE(loaded.wait(10000));
        return details;
    }

    static inline VantryServer* s_server = nullptr;
};
