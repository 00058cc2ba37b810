#include "CutLink.h"
#include "Cuts.h"
#include "LoopbackSocket.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

struct CutLink::State {
    int listener = -1;
    std::uint16_t port = 0;
    Cuts cuts;
    std::thread acceptor;

    // Both directions of one connection until either side ends it or a cut resets both.
    void carry(int client, int server, int opened) {
        pollfd fds[] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        char buffer[64 * 1024];
        bool reset = server < 0;
        while (!reset && ::poll(fds, 2, -1) > 0) {
            const int from = fds[0].revents ? 0 : 1;
            const ssize_t n = ::recv(fds[from].fd, buffer, sizeof buffer, 0);
            reset = n < 0 || (n > 0 && from == 0 && cuts.due(n, opened));
            if (n <= 0 || reset || ::send(fds[1 - from].fd, buffer, size_t(n), MSG_NOSIGNAL) != n)
                break;
        }
        const linger now{1, 0};
        for (const int fd : {client, server}) {
            if (reset && fd >= 0)
                ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
            if (fd >= 0)
                ::close(fd);
        }
    }
};

CutLink::CutLink(std::uint16_t targetPort) : d(std::make_shared<State>()) {
    d->listener = loopbackSocket(0, true);
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    ::getsockname(d->listener, reinterpret_cast<sockaddr*>(&bound), &length);
    d->port = ntohs(bound.sin_port);
    d->acceptor = std::thread([state = d, targetPort] {
        for (int client; (client = ::accept4(state->listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
            const int opened = state->cuts.round();
            std::thread([state, client, targetPort, opened] {
                state->carry(client, loopbackSocket(targetPort, false), opened);
            }).detach();
        }
    });
}

CutLink::~CutLink() {
    ::shutdown(d->listener, SHUT_RDWR);
    d->acceptor.join();
    ::close(d->listener);
}

std::uint16_t CutLink::port() const {
    return d->port;
}

std::int64_t CutLink::sent() const {
    return d->cuts.sent();
}

void CutLink::cut(std::int64_t bytes, int times) {
    d->cuts.cut(bytes, times);
}
