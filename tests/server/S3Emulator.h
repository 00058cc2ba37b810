#pragma once

#include "server/ServerOptions.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <httplib.h>

// An S3 emulator from the npm registry that scripts/bootstrap installs into build/test-tools (for
// tests only), on a free loopback port, started through a launcher in tests/fakes/s3/:
// - InMemory: fauxqs, in-memory buckets with multipart uploads, their abort, and ranges; it does
//   not check signatures.
// - SignatureChecking: s3rver, which refuses requests whose AWS Signature Version 4 is wrong
//   (but lists prefixes only one level deep, so names resolve in their exact case only).
class S3Emulator {
public:
    enum Kind { InMemory, SignatureChecking };

    static QString module(Kind kind) {
        const QString tools =
            qEnvironmentVariable("VANTRY_TEST_TOOLS", testsupport::binaryDir() + "/test-tools");
        return tools + (kind == InMemory ? "/node_modules/fauxqs" : "/node_modules/@20minutes/s3rver");
    }
    // Why the emulator cannot run here, or empty.
    static QString missing(Kind kind = InMemory) {
        if (QStandardPaths::findExecutable("node").isEmpty())
            return "node is not installed";
        if (!QFile::exists(module(kind) + "/package.json"))
            return "the S3 emulator is not installed (run scripts/bootstrap): " + module(kind);
        return {};
    }

    // SignatureChecking emulators start with bucket made; InMemory ones with none (createBucket).
    explicit S3Emulator(Kind kind = InMemory, const QString& bucket = {})
        : m_port(testsupport::freePort()), m_accessKey(kind == InMemory ? "test-access-key" : "S3RVER"),
          m_secretKey(kind == InMemory ? "test-secret-key" : "S3RVER") {
        const QString fakes = testsupport::sourceDir() + "/tests/fakes/s3/";
        const QStringList arguments =
            kind == InMemory
                ? QStringList{fakes + "s3-emulator.mjs", module(kind), QString::number(m_port)}
                : QStringList{fakes + "s3rver-emulator.mjs", module(kind), testsupport::makeTempDir("s3rver"),
                              bucket, QString::number(m_port)};
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start("node", arguments);
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
        return statusOf(client().Put("/" + bucket, "", "application/octet-stream")) == 200;
    }
    // 204 once the bucket holds no object and no unfinished multipart upload, 409 before.
    int deleteBucket(const std::string& bucket) const { return statusOf(client().Delete("/" + bucket)); }
    int headObject(const std::string& bucket, const std::string& key) const {
        return statusOf(client().Head("/" + bucket + "/" + key));
    }

    // Server options (or command-line arguments) that keep the files in bucket under prefix.
    ServerOptions options(const QString& bucket, const QString& prefix = {}) const {
        ServerOptions o;
        o.storage = "s3://" + bucket + QLatin1Char('/') + prefix;
        o.s3Endpoint = endpoint();
        o.s3AccessKey = m_accessKey;
        o.s3SecretKey = m_secretKey;
        return o;
    }
    QStringList arguments(const QString& bucket) const {
        return {"--storage", "s3://" + bucket + "/apps", "--s3-endpoint", endpoint(), "--s3-access-key",
                m_accessKey, "--s3-secret-key",          m_secretKey};
    }

private:
    static int statusOf(const httplib::Result& r) { return r ? r->status : -1; }

    quint16 m_port;
    QString m_accessKey;
    QString m_secretKey;
    QProcess m_process;
    bool m_running = false;
};

#define SKIP_WITHOUT_S3_EMULATOR(...)                                                                        \
    if (const QString why = S3Emulator::missing(__VA_ARGS__); !why.isEmpty())                                \
    GTEST_SKIP() << why.toStdString()
