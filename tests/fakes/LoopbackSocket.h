#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

// A TCP socket on 127.0.0.1: listening on port (0: any free one), or connected to it; -1 on failure.
// Shared by the cutting link of the tests and the wide-area link of the benchmarks.
inline int loopbackSocket(std::uint16_t port, bool listening) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const auto* at = reinterpret_cast<const sockaddr*>(&address);
    if (listening ? ::bind(fd, at, sizeof address) == 0 && ::listen(fd, 64) == 0
                  : ::connect(fd, at, sizeof address) == 0)
        return fd;
    ::close(fd);
    return -1;
}
