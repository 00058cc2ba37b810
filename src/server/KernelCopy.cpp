#include "server/KernelCopy.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace KernelCopy {

namespace {
// One call moves at most this much, so other connections on the thread get their turn.
constexpr uint64_t kPiece = 16 << 20;
constexpr int kPipeSize = 1 << 20; // the default 64 KiB also works, with more calls

bool wouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}
} // namespace

Step sendFile(int socket, int fd, uint64_t* offset, uint64_t* length) {
    while (*length > 0) {
        off_t at = off_t(*offset);
        const ssize_t n = ::sendfile(socket, fd, &at, size_t(std::min(*length, kPiece)));
        if (n > 0) {
            *offset += uint64_t(n);
            *length -= uint64_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return n < 0 && wouldBlock() ? Step::WouldBlock : Step::Failed; // 0: the file shrank
        }
    }
    return Step::Done;
}

bool Pipe::open() {
    if (m_fds[0] >= 0)
        return true;
    if (::pipe2(m_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        m_fds[0] = m_fds[1] = -1;
        return false;
    }
    (void)::fcntl(m_fds[1], F_SETPIPE_SZ, kPipeSize);
    return true;
}

void Pipe::close() {
    for (int& fd : m_fds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

Step Pipe::receive(int socket, int file, uint64_t* length, uint64_t* moved) {
    while (*length > 0) {
        const ssize_t n = ::splice(socket, nullptr, m_fds[1], nullptr, size_t(std::min(*length, kPiece)),
                                   SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && wouldBlock())
            return Step::WouldBlock;
        if (n <= 0)
            return Step::Failed; // cut off
        *length -= uint64_t(n);
        // The pipe is emptied into the file at once, so it is empty before every socket read.
        for (size_t left = size_t(n); left > 0;) {
            const ssize_t m = ::splice(m_fds[0], nullptr, file, nullptr, left, SPLICE_F_MOVE);
            if (m < 0 && errno == EINTR)
                continue;
            if (m <= 0)
                return Step::FileFailed;
            left -= size_t(m);
            *moved += uint64_t(m);
        }
    }
    return Step::Done;
}

} // namespace KernelCopy
