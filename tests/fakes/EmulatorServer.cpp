#include "EmulatorServer.h"

#include "EmulatorCore.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QUrlQuery>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

namespace emu {
QString randomId(int n, const char* alphabet) {
    const int size = int(std::strlen(alphabet));
    QString out;
    for (int i = 0; i < n; ++i)
        out += QLatin1Char(alphabet[QRandomGenerator::global()->bounded(size)]);
    return out;
}

void sendJson(Response& res, int status, const QJsonObject& body, const char* type) {
    res.status = status;
    res.set_content(QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString(), type);
}

QJsonObject parseJson(const std::string& text) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

QJsonObject fillJson(const char* text, const QJsonArray& values) {
    QByteArray out;
    for (const char* c = text; *c; ++c) {
        if (*c == '%' && c[1] >= '1' && c[1] <= '9') {
            const QByteArray one =
                QJsonDocument(QJsonArray{values.at(*++c - '1')}).toJson(QJsonDocument::Compact);
            out += one.mid(1, one.size() - 2);
        } else {
            out += *c;
        }
    }
    const QJsonDocument doc = QJsonDocument::fromJson(out);
    Q_ASSERT(doc.isObject());
    return doc.object();
}

QString param(const Request& req, const char* name) {
    if (req.has_param(name))
        return QString::fromStdString(req.get_param_value(name));
    return QUrlQuery(QString::fromStdString(req.body))
        .queryItemValue(QString::fromLatin1(name), QUrl::FullyDecoded);
}

void dropAnswer(Response& res) {
    res.body.clear(); // a body already set would go out instead
    res.set_content_provider(1024, "application/json",
                             [](size_t, size_t, httplib::DataSink&) { return false; });
}
} // namespace emu

QString EmulatorCore::base() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(port);
}

QString EmulatorCore::base(const emu::Request& req) const {
    const std::string host = req.get_header_value("Host");
    return host.empty() ? base() : QStringLiteral("http://") + QString::fromStdString(host);
}

QString EmulatorCore::newBlob(const QString& prefix) {
    return root + QStringLiteral("/%1-%2.bin").arg(prefix).arg(++blobs);
}

QString EmulatorCore::credential(const emu::Request& req, const char* scheme) {
    const std::string header = req.get_header_value("Authorization");
    const std::string lead = std::string(scheme) + ' ';
    return header.rfind(lead, 0) == 0 ? QString::fromStdString(header.substr(lead.size())) : QString();
}

bool EmulatorCore::refreshGrantMatches(const emu::Request& req) {
    ++refreshGrants;
    return emu::param(req, "grant_type") == QLatin1String("refresh_token") && !refreshToken.isEmpty() &&
           emu::param(req, "refresh_token") == refreshToken;
}

QString EmulatorCore::issueToken(const QString& prefix, int length) {
    const QString token = prefix + emu::randomId(length);
    tokens.insert(token);
    return token;
}

void EmulatorCore::serveFile(emu::Response& res, const QString& path) {
    // Streamed from disk: a client that reads only the start of a large file (a link check) must
    // not cost reading all of it.
    auto file = std::make_shared<QFile>(path);
    file->open(QIODevice::ReadOnly);
    res.set_content_provider(size_t(qMax<qint64>(file->size(), 0)), "application/octet-stream",
                             [file](size_t offset, size_t length, httplib::DataSink& sink) {
                                 QByteArray chunk(qMin<qint64>(qint64(length), 1 << 20), Qt::Uninitialized);
                                 const qint64 got =
                                     file->seek(qint64(offset)) ? file->read(chunk.data(), chunk.size()) : -1;
                                 return got > 0 && sink.write(chunk.constData(), size_t(got));
                             });
}

bool EmulatorCore::streamBody(const emu::ContentReader& reader, const QString& file, bool append, qint64 at,
                              qint64* length) {
    FILE* out = file.isEmpty() ? nullptr
                               : std::fopen(QFile::encodeName(file).constData(), at >= 0  ? "r+b"
                                                                                 : append ? "ab"
                                                                                          : "wb");
    const bool writable = out && (at < 0 || std::fseek(out, long(at), SEEK_SET) == 0);
    if (writable)
        std::setvbuf(out, nullptr, _IOFBF, 1 << 20);
    qint64 got = 0;
    const int round = cuts.round();
    const bool ok = reader([&](const char* data, size_t size) {
        got += qint64(size);
        if (cuts.due(qint64(size), round))
            return false;
        return !writable || std::fwrite(data, 1, size, out) == size;
    });
    if (out)
        std::fclose(out);
    if (length)
        *length = got;
    return ok && (writable || file.isEmpty());
}

EmulatorServer::EmulatorServer(const QString& storageDir) : m_core(std::make_unique<EmulatorCore>()) {
    m_core->root = storageDir;
    QDir().mkpath(storageDir);
}

EmulatorServer::~EmulatorServer() {
    stop();
}

bool EmulatorServer::start() {
    m_core->port = m_core->server.bind_to_any_port("127.0.0.1");
    if (m_core->port <= 0)
        return false;
    m_core->thread = std::thread([this] { m_core->server.listen_after_bind(); });
    // Bounded: listen_after_bind() may fail and never report running.
    for (int i = 0; i < 5000 && !m_core->server.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return m_core->server.is_running();
}

void EmulatorServer::stop() {
    if (m_core->thread.joinable()) {
        m_core->server.stop();
        m_core->thread.join();
    }
}

quint16 EmulatorServer::port() const {
    return quint16(m_core->port);
}
QString EmulatorServer::baseUrl() const {
    return m_core->base();
}

void EmulatorServer::addAccessToken(const QString& token, bool expired) {
    m_core->locked([&] { (expired ? m_core->expiredTokens : m_core->tokens).insert(token); });
}

void EmulatorServer::cutUploads(qint64 afterBytes, int times) {
    m_core->cuts.cut(afterBytes, times);
}

void EmulatorServer::setRefreshToken(const QString& token) {
    m_core->locked([&] { m_core->refreshToken = token; });
}
int EmulatorServer::refreshGrants() const {
    return m_core->locked([&] { return m_core->refreshGrants; });
}
QStringList EmulatorServer::requests() const {
    return m_core->locked([&] { return m_core->requests; });
}

int EmulatorServer::count(const QString& word) const {
    const QStringList lines = requests();
    return int(std::count_if(lines.begin(), lines.end(), [&](const QString& line) {
        return line.split(QLatin1Char(' ')).contains(word);
    }));
}
qint64 EmulatorServer::bytesReceived() const {
    return m_core->cuts.sent();
}
