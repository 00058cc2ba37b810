#pragma once

#include "server/ServerOptions.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <httplib.h>

// fauxqs, an S3 emulator from the npm registry that scripts/bootstrap installs into
// build/test-tools (for tests only), on a free loopback port with empty in-memory buckets.
// It does not check signatures; it does implement multipart uploads, their abort, and ranges.
class S3Emulator {
public:
    static QString script() {
        const QString tools = qEnvironmentVariable("VANTRY_TEST_TOOLS",
                                                   testsupport::binaryDir() + QStringLiteral("/test-tools"));
        return tools + QStringLiteral("/node_modules/fauxqs/dist/cli.js");
    }
    // Why the emulator cannot run here, or empty.
    static QString missing() {
        if (QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty())
            return QStringLiteral("node is not installed");
        if (!QFile::exists(script()))
            return QStringLiteral("the S3 emulator is not installed (run scripts/bootstrap): ") + script();
        return {};
    }

    S3Emulator() : m_port(testsupport::freePort()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("FAUXQS_PORT"), QString::number(m_port));
        m_process.setProcessEnvironment(env);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start(QStringLiteral("node"), {script()});
        m_running = testsupport::waitUntil(
                        [this] {
                            return m_process.state() == QProcess::NotRunning ||
                                   client().Get("/health").error() == httplib::Error::Success;
                        },
                        20000) &&
                    m_process.state() == QProcess::Running;
    }
    ~S3Emulator() { stop(); }
    void stop() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    bool isRunning() const { return m_running; }
    QString endpoint() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    httplib::Client client() const {
        httplib::Client c("127.0.0.1", m_port);
        c.set_read_timeout(60);
        return c;
    }
    bool createBucket(const std::string& bucket) const {
        auto r = client().Put("/" + bucket, "", "application/octet-stream");
        return r && r->status == 200;
    }
    // 204 once the bucket holds no object and no unfinished multipart upload, 409 before.
    int deleteBucket(const std::string& bucket) const {
        auto r = client().Delete("/" + bucket);
        return r ? r->status : -1;
    }
    int headObject(const std::string& bucket, const std::string& key) const {
        auto r = client().Head("/" + bucket + "/" + key);
        return r ? r->status : -1;
    }

    // Server options (or command-line arguments) that keep the files in bucket under prefix.
    ServerOptions options(const QString& bucket, const QString& prefix = {}) const {
        ServerOptions o;
        o.storage = QStringLiteral("s3://") + bucket + QLatin1Char('/') + prefix;
        o.s3Endpoint = endpoint();
        o.s3AccessKey = QStringLiteral("test-access-key");
        o.s3SecretKey = QStringLiteral("test-secret-key");
        return o;
    }
    QStringList arguments(const QString& bucket) const {
        return {QStringLiteral("--storage"),       QStringLiteral("s3://") + bucket + QStringLiteral("/apps"),
                QStringLiteral("--s3-endpoint"),   endpoint(),
                QStringLiteral("--s3-access-key"), QStringLiteral("test-access-key"),
                QStringLiteral("--s3-secret-key"), QStringLiteral("test-secret-key")};
    }

private:
    quint16 m_port;
    QProcess m_process;
    bool m_running = false;
};

#define SKIP_WITHOUT_S3_EMULATOR()                                                                           \
    if (const QString why = S3Emulator::missing(); !why.isEmpty())                                           \
    GTEST_SKIP() << why.toStdString()
