#pragma once

#include "app/HostingBackend.h"
#include "app/NewAPKProcessController.h"
#include "app/NewProcessController.h"
#include "app/StatusSink.h"
#include "inspect/Inspector.h"
#include "storage/ClientManager.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QImage>
#include <QList>
#include <QPair>
#include <QTimer>

#include <optional>
#include <vector>

// One setStatus call.
struct Status {
    QString title;
    QString detail;
    ProcessState state = ProcessState::preparing;
    bool operator==(const Status&) const = default;
};
inline void PrintTo(const Status& s, std::ostream* os) {
    *os << "(\"" << s.title.toStdString() << "\", \"" << s.detail.toStdString() << "\", "
        << processStateName(s.state).toStdString() << ")";
}

// Records everything a job shows.
class RecordingSink : public StatusSink {
public:
    void setStatus(const QString& title, const QString& detail, ProcessState state) override {
        statuses.push_back({title, detail, state});
        if (onStatus)
            onStatus(statuses.back());
    }
    void setProgress(const QString& text, double value) override {
        percentages << text;
        values.push_back(value);
    }
    void setResultImage(const QImage& image) override { resultImage = image; }
    void postNotification(const QString& title, const QString& body) override {
        notifications.append({title, body});
    }
    void copyToClipboard(const QString& text) override { copied << text; }
    void dismiss() override { ++dismissals; }

    std::vector<Status> statuses;
    QStringList percentages;
    std::vector<double> values;
    std::optional<QImage> resultImage;
    QList<QPair<QString, QString>> notifications;
    QStringList copied;
    int dismissals = 0;
    std::function<void(const Status&)> onStatus;
};

// A fixed job time: 31 December 2024, 23:59:58 local time.
inline QDateTime jobTime() {
    return QDateTime(QDate(2024, 12, 31), QTime(23, 59, 58));
}
inline const QString kStamp = QStringLiteral("2024_12_31_23_59_58");

// "Big Game" (com.example.big 2.1) as the inspector finds it, with a PNG icon written at `icon`.
inline PackageRecord bigGame(const QString& icon) {
    QImage image(60, 60, QImage::Format_ARGB32);
    image.fill(QColor(40, 90, 200));
    testsupport::writeFile(icon, {});
    image.save(icon, "PNG");
    return {QStringLiteral("com.example.big"),
            QStringLiteral("2.1"),
            QStringLiteral("Big Game"),
            icon,
            QStringLiteral("3 MB"),
            QStringLiteral("15.0"),
            QString()};
}

// The storage client's and the backend's calls, recorded in a shared script that answers them:
// held calls wait for the test, failing calls report the script's message, the rest succeed on the
// next turn of the event loop. Late answers after a cancel are delivered all the same, as a
// careless provider might.
struct Script {
    QStringList calls; // "folder P", "upload L -> R", "link P", "cancel", "createapp"
    std::function<bool(const QString& call)> hold = [](const QString&) { return false; };
    std::function<std::optional<QString>(const QString& call)> failure = [](const QString&) {
        return std::optional<QString>();
    };
    bool foldersExist = false;
    std::function<QString(const QString& path)> link = [](const QString& path) {
        return QStringLiteral("https://files.example") + path;
    };
    std::vector<double> progress = {0.0, 1.0};
    QString notice; // said by every upload before it completes, as a resumed one does
    std::vector<std::function<void()>> held;
    void releaseHeld() {
        auto pending = std::move(held);
        held.clear();
        for (auto& call : pending)
            call();
    }
    void answer(QObject* context, const QString& call, const std::function<void()>& success,
                const std::function<void(const QString&)>& fail) {
        calls << call;
        if (const std::optional<QString> message = failure(call))
            QTimer::singleShot(0, context, [fail, message] { fail(*message); });
        else if (hold(call))
            held.push_back(success);
        else
            QTimer::singleShot(0, context, success);
    }
    int indexOf(const QString& prefix) const {
        for (int i = 0; i < calls.size(); ++i) {
            if (calls.at(i).startsWith(prefix))
                return i;
        }
        return -1;
    }
};

class ScriptedClient : public ClientManager {
public:
    explicit ScriptedClient(Script& script) : m_script(script) {}
    void createFolder(const QString& path, FolderCompletion completion) override {
        const bool existed = m_script.foldersExist;
        answer(QStringLiteral("folder ") + path, [completion, existed] { completion(existed); });
    }
    void uploadFile(const QString& localPath, const QString& remotePath, UploadCompletion completion,
                    Progress progress) override {
        const std::vector<double> steps = m_script.progress;
        const QString notice = m_script.notice;
        answer(QStringLiteral("upload %1 -> %2").arg(localPath, remotePath), [=, this] {
            for (double f : steps)
                progress(f);
            if (!notice.isEmpty() && onNotice)
                onNotice(notice);
            completion(false);
        });
    }
    void shareLink(const QString& remotePath, LinkCompletion completion) override {
        const QString link = m_script.link(remotePath);
        answer(QStringLiteral("link ") + remotePath, [completion, link] { completion(link); });
    }
    void cancelTask() override { m_script.calls << QStringLiteral("cancel"); }

private:
    void answer(const QString& call, const std::function<void()>& success) {
        m_script.answer(this, call, success, [this](const QString& message) { fail(message); });
    }
    Script& m_script;
};

// A backend that records what it is asked to register and answers from the script.
class FakeBackend : public HostingBackend {
public:
    explicit FakeBackend(Script& script) : m_script(script) {}
    void createApp(const Zapp& app, OnLinks onLink, Failure onFailure) override {
        apps.append(app);
        const QString link =
            QStringLiteral("https://v.example/") + QString(app.appid).remove(QStringLiteral("__android"));
        m_script.answer(
            qApp, QStringLiteral("createapp"), [onLink, link] { onLink(link, QString()); }, onFailure);
    }
    void cancel() override { ++cancels; }

    QList<Zapp> apps;
    int cancels = 0;

private:
    Script& m_script;
};

// An inspector that delivers a given record, or nothing until it is destroyed; a job takes it
// through setInspectorFactory.
class FakeInspector : public Inspector {
public:
    FakeInspector(std::optional<PackageRecord> record, const Preflight& preflight, bool* destroyed)
        : m_record(std::move(record)), m_destroyed(destroyed) {
        m_preflight = preflight;
    }
    ~FakeInspector() override { *m_destroyed = true; }
    void inspect(const QUrl&) override {
        if (m_record)
            deliver(*m_record);
    }

private:
    std::optional<PackageRecord> m_record;
    bool* m_destroyed;
};

using IosJob = NewProcessController;
using AndroidJob = NewAPKProcessController;

// Runs the event loop until the job has ended.
inline bool waitForEnd(const NewProcessController& job) {
    return testsupport::waitUntil([&] { return !isRunning(job.state()); }, 60000);
}
