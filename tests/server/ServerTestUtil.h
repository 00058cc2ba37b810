#pragma once

#include "server/InProcessServer.h"
#include "server/VantryServer.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>
#include <httplib.h>

#include <memory>

// The binary, started on a free port and stopped with a signal.
class ServerProcess {
public:
    explicit ServerProcess(const QString& dataDir, quint16 port, const QStringList& extra = {})
        : m_port(port) {
        m_process.setProgram(testsupport::binaryDir() + QStringLiteral("/src/server/vantry-server"));
        m_process.setArguments(QStringList{QStringLiteral("--data-dir"), dataDir, QStringLiteral("--listen"),
                                           QStringLiteral("127.0.0.1:%1").arg(port)} +
                               extra);
        m_process.start();
    }
    bool waitReady() {
        return testsupport::waitUntil([this] {
                   m_output += m_process.readAllStandardOutput();
                   return m_output.contains("listening on") || m_process.state() == QProcess::NotRunning;
               }) &&
               m_process.state() == QProcess::Running;
    }
    // Waits until the output holds text count times.
    bool waitForOutput(const QByteArray& text, int count = 1) {
        return testsupport::waitUntil([&] {
            m_output += m_process.readAllStandardOutput();
            return m_output.count(text) >= count;
        });
    }
    // Sends SIGTERM; returns the exit code (or -1 when it did not end normally).
    int terminate() {
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_output += m_process.readAllStandardOutput();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    QByteArray output() const { return m_output; }
    qint64 pid() const { return m_process.processId(); }
    quint16 port() const { return m_port; }
    httplib::Client client() const { return httplib::Client("127.0.0.1", m_port); }

private:
    quint16 m_port;
    QProcess m_process;
    QByteArray m_output;
};

// A createapp body: every text field is "v-<key>" (the icon empty) unless given in fields.
inline QByteArray appJson(const QString& owner, const QString& appid, const QVariantMap& fields = {}) {
    QJsonObject o{{QStringLiteral("userid"), owner},
                  {QStringLiteral("appid"), appid},
                  {QStringLiteral("appicon"), QString()}};
    for (const char* key :
         {"appname", "appversion", "appurl", "appdate", "appsize", "minos", "qrLink", "appdescription"})
        o.insert(QLatin1String(key), QStringLiteral("v-") + QLatin1String(key));
    o.insert(QStringLiteral("appurl"), QStringLiteral("https://files.example.test/v-appurl"));
    for (auto it = fields.begin(); it != fields.end(); ++it)
        o.insert(it.key(), it.value().toString());
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// A self-signed certificate for 127.0.0.1 as dir/cert.pem and dir/key.pem; false when openssl failed.
inline bool makeCertificate(const QString& dir) {
    return QProcess::execute(QStringLiteral("openssl"),
                             {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                              "-nodes", "-keyout", dir + QStringLiteral("/key.pem"), "-out",
                              dir + QStringLiteral("/cert.pem"), "-days", "1", "-subj", "/CN=127.0.0.1"}) ==
           0;
}

// The HTTP status of an answer, or -1 without one.
inline int status(const httplib::Result& r) {
    return r ? r->status : -1;
}

// Registers the user as the applications do before anything else; the secret issued (empty when
// none was).
inline std::string signUp(httplib::Client& client, const QString& userid) {
    const auto r = client.Post("/addnewuser",
                               R"({"email":"e","username":"u","photoURL":"","userid":")" +
                                   userid.toStdString() + R"("})",
                               "application/json");
    if (!r)
        return {};
    return QJsonDocument::fromJson(QByteArray::fromStdString(r->body))
        .object()
        .value(QStringLiteral("userSecret"))
        .toString()
        .toStdString();
}

// POSTs a createapp body as owner, with the owner's secret when given (else the client's default
// headers may carry it); the HTTP status, or -1 without an answer.
inline int postApp(httplib::Client& client, const QString& owner, const QString& appid,
                   const QVariantMap& fields = {}, const std::string& secret = {}) {
    httplib::Headers headers{{"Authorization", owner.toStdString()}};
    if (!secret.empty())
        headers.emplace("X-Vantry-Secret", secret);
    return status(
        client.Post("/createapp", headers, appJson(owner, appid, fields).toStdString(), "application/json"));
}
