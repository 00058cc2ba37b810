#include "storage/StreamingPost.h"

#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

namespace {
QNetworkReply::NetworkError replyError(QAbstractSocket::SocketError error) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QNetworkReply::ConnectionRefusedError;
    case QAbstractSocket::RemoteHostClosedError:
        return QNetworkReply::RemoteHostClosedError;
    case QAbstractSocket::HostNotFoundError:
        return QNetworkReply::HostNotFoundError;
    case QAbstractSocket::SocketTimeoutError:
        return QNetworkReply::TimeoutError;
    case QAbstractSocket::SslHandshakeFailedError:
        return QNetworkReply::SslHandshakeFailedError;
    case QAbstractSocket::ProxyConnectionRefusedError:
        return QNetworkReply::ProxyConnectionRefusedError;
    case QAbstractSocket::ProxyNotFoundError:
        return QNetworkReply::ProxyNotFoundError;
    default:
        return QNetworkReply::UnknownNetworkError;
    }
}

// Decodes a complete chunked body; false while more is to come.
bool unchunk(const QByteArray& in, QByteArray& out) {
    out.clear();
    qsizetype pos = 0;
    for (;;) {
        const qsizetype eol = in.indexOf("\r\n", pos);
        if (eol < 0)
            return false;
        bool ok = false;
        const qint64 size = in.mid(pos, eol - pos).split(';').first().trimmed().toLongLong(&ok, 16);
        if (!ok)
            return false;
        if (size == 0)
            return true;
        if (in.size() < eol + 2 + size + 2)
            return false;
        out.append(in.mid(eol + 2, size));
        pos = eol + 2 + size + 2;
    }
}
} // namespace

StreamingPost::StreamingPost(const QByteArray& method, const QUrl& url, Headers headers,
                             const QString& filePath, qint64 offset, qint64 length, QObject* parent)
    : QObject(parent), m_method(method), m_url(url), m_headers(std::move(headers)), m_file(filePath),
      m_offset(offset), m_length(length) {}

StreamingPost::~StreamingPost() {
    abort();
}

void StreamingPost::start() {
    if (!m_file.open(QIODevice::ReadOnly) || !m_file.seek(m_offset)) {
        fail(QNetworkReply::ContentAccessDenied, QStringLiteral("The file could not be read."));
        return;
    }
    const bool tls = m_url.scheme() == QLatin1String("https");
    m_socket = tls ? new QSslSocket(this) : new QTcpSocket(this);
    m_idle = new QTimer(this);
    m_idle->setSingleShot(true);
    m_idle->setInterval(idleTimeoutMs);
    connect(m_idle, &QTimer::timeout, this,
            [this] { fail(QNetworkReply::TimeoutError, QStringLiteral("timed out")); });
    connect(m_socket, &QAbstractSocket::bytesWritten, this, &StreamingPost::onBytesWritten);
    connect(m_socket, &QAbstractSocket::readyRead, this, &StreamingPost::onReadyRead);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, &StreamingPost::onSocketError);
    connect(m_socket, &QAbstractSocket::disconnected, this, [this] {
        if (!m_done && !parseAnswer(true))
            fail(QNetworkReply::RemoteHostClosedError, QStringLiteral("connection closed"));
    });
    m_idle->start();
    if (tls) {
        auto* ssl = static_cast<QSslSocket*>(m_socket);
        connect(ssl, &QSslSocket::encrypted, this, &StreamingPost::sendHead);
        ssl->connectToHostEncrypted(m_url.host(), quint16(m_url.port(443)));
    } else {
        connect(m_socket, &QAbstractSocket::connected, this, &StreamingPost::sendHead);
        m_socket->connectToHost(m_url.host(), quint16(m_url.port(80)));
    }
}

void StreamingPost::sendHead() {
    // The body's last partial segment must not wait for the server's delayed acknowledgement.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const bool defaultPort = m_url.port() == -1;
    QByteArray head = m_method + ' ' + m_url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority) +
                      " HTTP/1.1\r\nHost: " + m_url.host().toUtf8() +
                      (defaultPort ? QByteArray() : ':' + QByteArray::number(m_url.port())) +
                      "\r\nContent-Length: " + QByteArray::number(m_length) + "\r\nConnection: close\r\n";
    for (const auto& [name, value] : m_headers)
        head += name + ": " + value + "\r\n";
    head += "\r\n";
    m_headSize = head.size();
    m_socket->write(head);
    pump();
}

void StreamingPost::pump() {
    QByteArray block;
    while (!m_done && m_queued < m_length && m_socket->bytesToWrite() < queueTarget) {
        block.resize(qMin(blockSize, m_length - m_queued));
        const qint64 got = m_file.read(block.data(), block.size());
        if (got <= 0) {
            fail(QNetworkReply::ContentAccessDenied, QStringLiteral("The file could not be read."));
            return;
        }
        m_socket->write(block.constData(), got);
        m_queued += got;
    }
}

void StreamingPost::onBytesWritten(qint64 n) {
    m_idle->start();
    m_written += n;
    const qint64 sent = qBound<qint64>(0, m_written - m_headSize, m_length);
    if (sent > 0)
        emit uploadProgress(sent, m_length);
    pump();
}

void StreamingPost::onReadyRead() {
    m_idle->start();
    m_in += m_socket->readAll();
    parseAnswer(false);
}

bool StreamingPost::parseAnswer(bool connectionClosed) {
    if (m_done)
        return true;
    const qsizetype headEnd = m_in.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return false;
    const QList<QByteArray> lines = m_in.left(headEnd).split('\n');
    const QList<QByteArray> statusLine = lines.first().trimmed().split(' ');
    m_status = statusLine.size() > 1 ? statusLine[1].toInt() : 0;
    m_answerHeaders.clear();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            m_answerHeaders.append(
                {lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed()});
    }
    const QByteArray rest = m_in.mid(headEnd + 4);
    bool complete = false;
    if (header("transfer-encoding").toLower().contains("chunked")) {
        complete = unchunk(rest, m_body);
    } else if (!header("content-length").isEmpty()) {
        const qint64 expected = header("content-length").toLongLong();
        complete = rest.size() >= expected;
        m_body = rest.left(expected);
    } else {
        complete = connectionClosed;
        m_body = rest;
    }
    if (complete)
        this->complete();
    return complete;
}

QByteArray StreamingPost::header(const QByteArray& lowerCaseName) const {
    for (const auto& [name, value] : m_answerHeaders) {
        if (name == lowerCaseName)
            return value;
    }
    return {};
}

void StreamingPost::onSocketError() {
    if (m_done)
        return;
    if (m_socket->error() == QAbstractSocket::RemoteHostClosedError && parseAnswer(true))
        return;
    fail(replyError(m_socket->error()), m_socket->errorString());
}

void StreamingPost::fail(QNetworkReply::NetworkError error, const QString& text) {
    if (m_done)
        return;
    m_status = 0;
    m_error = error;
    m_errorString = text;
    complete();
}

void StreamingPost::complete() {
    m_done = true;
    if (m_idle)
        m_idle->stop();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    QMetaObject::invokeMethod(this, &StreamingPost::finished, Qt::QueuedConnection);
}

void StreamingPost::abort() {
    m_done = true;
    if (m_idle)
        m_idle->stop();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}
