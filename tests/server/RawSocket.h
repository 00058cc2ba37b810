#pragma once

#include <QByteArray>
#include <QElapsedTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// The one raw TCP client of the server tests: requests no library would send (broken framing,
// bodies that stop, trickled headers), from a chosen loopback address, read back byte for byte.
class RawSocket {
public:
    explicit RawSocket(int port, const char* from = "127.0.0.1") {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const timeval sendLimit{10, 0}; // a server that stops reading must not hang the test
        ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, from, &local.sin_addr);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
        sockaddr_in remote{};
        remote.sin_family = AF_INET;
        remote.sin_port = htons(quint16(port));
        ::inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0;
    }
    ~RawSocket() { ::close(m_fd); }
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;

    // One request on a fresh connection: everything answered until the server closes.
    static QByteArray exchange(int port, const QByteArray& request, int timeoutMs = 5000) {
        RawSocket s(port);
        s.send(request);
        return s.receive(timeoutMs);
    }

    bool connected() const { return m_connected; }
    bool send(const QByteArray& bytes) {
        return ::send(m_fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
    }
    // Everything until the peer closes, timeoutMs pass or enough has come `times` times; *closed
    // tells whether the peer closed.
    QByteArray receive(int timeoutMs, bool* closed = nullptr, const QByteArray& enough = {}, int times = 1) {
        QByteArray out;
        QElapsedTimer timer;
        timer.start();
        bool ended = false;
        while (!ended && timer.elapsed() < timeoutMs && (enough.isEmpty() || out.count(enough) < times)) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, int(timeoutMs - timer.elapsed())) <= 0)
                break;
            char buffer[65536];
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                ended = true;
            else
                out.append(buffer, qsizetype(n));
        }
        if (closed)
            *closed = ended;
        return out;
    }

private:
    int m_fd = -1;
    bool m_connected = false;
};
