#pragma once

#include "server/ApiMessage.h"
#include "server/InProcessServer.h"
#include "server/VantryServer.h"
#include "support/TestSupport.h"

#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>
#include <httplib.h>

#include <memory>

#include <sqlite3.h>
#include <sys/stat.h>

// The binary, started on a free port and stopped with a signal.
class ServerProcess {
public:
    static QString program() { return testsupport::binaryDir() + "/src/server/vantry-server"; }
    explicit ServerProcess(const QString& dataDir, const QStringList& extra = {})
        : ServerProcess(dataDir, testsupport::freePort(), extra) {}
    ServerProcess(const QString& dataDir, quint16 port, const QStringList& extra) : m_port(port) {
        m_process.start(program(), QStringList{"--data-dir", dataDir, "--listen",
                                               QStringLiteral("127.0.0.1:%1").arg(m_port)} +
                                       extra);
    }
    bool waitReady() { return waitForOutput("listening on") && m_process.state() == QProcess::Running; }
    // Waits until the log holds text count times (or the process ended).
    bool waitForOutput(const QByteArray& text, int count = 1) {
        return testsupport::waitUntil([&] {
                   m_output += m_process.readAllStandardOutput();
                   return m_output.count(text) >= count || m_process.state() == QProcess::NotRunning;
               }) &&
               m_output.count(text) >= count;
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

// An iPhone's browser as it names itself.
inline const std::string kIPhone =
    "Mozilla/5.0 (iPhone; CPU iPhone OS 18_7 like Mac OS X) AppleWebKit/605.1.15 "
    "(KHTML, like Gecko) Version/26.6 Mobile/15E148 Safari/604.1";

inline QJsonObject jsonOf(const QByteArray& body) {
    return QJsonDocument::fromJson(body).object();
}
inline QJsonObject jsonOf(const httplib::Result& r) {
    return r ? jsonOf(QByteArray::fromStdString(r->body)) : QJsonObject();
}
// A crash report as the applications send it.
inline const std::string kCrashReport =
    R"({"name":"n","reason":"r","exception":"e","callStackSymbols":"[]"})";

// The first value a statement answers, on a connection of its own; "error: …" when it fails.
inline QString sqliteValue(const QString& path, const QString& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    char** table = nullptr;
    int rows = 0;
    int columns = 0;
    char* message = nullptr;
    const int rc = sqlite3_get_table(db, sql.toUtf8().constData(), &table, &rows, &columns, &message);
    const QString answer = rc != SQLITE_OK ? "error: " + QString::fromUtf8(message)
                                           : QString::fromUtf8(rows > 0 ? table[columns] : "");
    sqlite3_free_table(table);
    sqlite3_free(message);
    sqlite3_close(db);
    return answer;
}

// A file's permission bits, -1 when it is missing.
inline int modeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}
// The "response" array of an answer.
inline QJsonArray listOf(const httplib::Result& r) {
    return jsonOf(r).value("response").toArray();
}

// A createapp body: every text field is "v-<key>" (the icon empty) unless given in fields.
inline QByteArray appJson(const QString& owner, const QString& appid, const QVariantMap& fields = {}) {
    QJsonObject o{{"userid", owner}, {"appid", appid}, {"appicon", QString()}};
    for (const char* key :
         {"appname", "appversion", "appurl", "appdate", "appsize", "minos", "qrLink", "appdescription"})
        o.insert(QLatin1String(key), QStringLiteral("v-") + QLatin1String(key));
    o.insert("appurl", "https://files.example.test/v-appurl");
    for (auto it = fields.begin(); it != fields.end(); ++it)
        o.insert(it.key(), it.value().toString());
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}
// An addnewuser body.
inline QByteArray userJson(const QString& userid, const QString& email = "e") {
    return QJsonDocument(
               QJsonObject{{"email", email}, {"username", "u"}, {"photoURL", ""}, {"userid", userid}})
        .toJson(QJsonDocument::Compact);
}
// The headers of a user's own request.
inline httplib::Headers as(const std::string& user, const std::string& secret = {}) {
    httplib::Headers headers{{"Authorization", user}};
    if (!secret.empty())
        headers.emplace("X-Vantry-Secret", secret);
    return headers;
}
// A request as the transport hands it to the router.
inline ApiRequest request(const char* method, const QString& path, const QByteArray& body = "{}",
                          const QString& user = {}, const QString& secret = {}) {
    ApiRequest r;
    r.method = QLatin1String(method);
    r.path = path;
    r.body = body;
    if (!user.isNull())
        r.headers.insert("authorization", user);
    if (!secret.isEmpty())
        r.headers.insert("x-vantry-secret", secret);
    return r;
}

// A self-signed certificate for 127.0.0.1 as dir/cert.pem and dir/key.pem; false when openssl failed.
inline bool makeCertificate(const QString& dir) {
    return QDir().mkpath(dir) &&
           QProcess::execute("openssl",
                             {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                              "-nodes", "-keyout", dir + "/key.pem", "-out", dir + "/cert.pem", "-days", "1",
                              "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"}) == 0;
}
// Options that serve HTTPS with a new certificate in dir.
inline bool useTls(ServerOptions& options, const QString& dir) {
    options.tlsCert = dir + "/cert.pem";
    options.tlsKey = dir + "/key.pem";
    return makeCertificate(dir);
}

// Bytes in which a shifted or repeated block shows.
inline std::string pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 4093) % 251);
    return bytes;
}

// The part files of the uploads a folder of the file store holds unfinished.
inline QStringList partFiles(const QString& folder) {
    return QDir(folder).entryList({".upload-*"}, QDir::Files | QDir::Hidden);
}

// A command line as the server reads it; *output gets what it would print.
inline std::optional<ServerOptions> parseOptions(const QStringList& args, QString* output = nullptr) {
    QString text;
    int code = -1;
    return ServerOptions::parse(args, output ? output : &text, &code);
}

// Everything under root (links not followed), as sorted relative paths.
inline QStringList filesUnder(const QString& root) {
    QStringList out;
    for (QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
                         QDirIterator::Subdirectories);
         it.hasNext();)
        out << QDir(root).relativeFilePath(it.next());
    out.sort();
    return out;
}

// The HTTP status of an answer, or -1 without one.
inline int status(const httplib::Result& r) {
    return r ? r->status : -1;
}

// Registers the user as the applications do before anything else; the secret issued (empty when
// none was).
inline std::string signUp(httplib::Client& client, const QString& userid, const QString& email = "e") {
    return jsonOf(client.Post("/addnewuser", userJson(userid, email).toStdString(), "application/json"))
        .value("userSecret")
        .toString()
        .toStdString();
}

// POSTs a createapp body as owner, with the owner's secret when given (else the client's default
// headers may carry it); the HTTP status, or -1 without an answer.
inline int postApp(httplib::Client& client, const QString& owner, const QString& appid,
                   const QVariantMap& fields = {}, const std::string& secret = {}) {
    return status(client.Post("/createapp", as(owner.toStdString(), secret),
                              appJson(owner, appid, fields).toStdString(), "application/json"));
}

// An HTTP client of the tus routes with the storage token and Tus-Resumable on every request.
struct Tus {
    using Fields = std::vector<std::pair<std::string, std::string>>;
    explicit Tus(const VantryServer& server)
        : http(server.localUrl().chopped(1).toStdString()), token(server.storageToken().toStdString()) {
        http.enable_server_certificate_verification(false);
        // TLS 1.3 servers send session tickets that this client never reads: a connection the test
        // cuts would then be reset by the kernel, dropping bytes already sent.
        if (SSL_CTX* tls = http.ssl_context())
            SSL_CTX_set_max_proto_version(tls, TLS1_2_VERSION);
    }
    // A field given "-" is left out.
    httplib::Result send(const std::string& method, const std::string& path, Fields fields,
                         const std::string& body = {}) {
        httplib::Request r;
        r.method = method;
        r.path = path;
        r.body = body;
        fields.insert(fields.begin(), {{"Authorization", "Bearer " + token}, {"Tus-Resumable", "1.0.0"}});
        for (const auto& [name, value] : fields) {
            r.headers.erase(name);
            if (value != "-")
                r.headers.emplace(name, value);
        }
        return http.send(r);
    }
    // The path of a new upload, or "" when it was refused.
    std::string create(uint64_t length, const std::string& storagePath) {
        const auto r =
            send("POST", "/storage/tus",
                 {{"Upload-Length", std::to_string(length)},
                  {"Upload-Metadata",
                   "filename " + QByteArray::fromStdString(storagePath).toBase64().toStdString()}});
        const std::string location = r ? r->get_header_value("Location") : std::string();
        return location.empty() ? location : location.substr(location.find("/storage/tus/"));
    }
    httplib::Result patch(const std::string& path, uint64_t offset, const std::string& bytes) {
        return send(
            "PATCH", path,
            {{"Upload-Offset", std::to_string(offset)}, {"Content-Type", "application/offset+octet-stream"}},
            bytes);
    }
    std::string offset(const std::string& path) {
        const auto r = send("HEAD", path, {});
        return r ? r->get_header_value("Upload-Offset") : std::string();
    }
    httplib::Client http;
    std::string token;
};
