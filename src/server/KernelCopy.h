#pragma once

#include <cstddef>
#include <cstdint>

// Body bytes moved between a socket and a file inside the kernel, never through our memory.
// Each call does what the non-blocking socket allows now and says why it stopped.
namespace KernelCopy {

enum class Step {
    Done,       // all that was asked for moved
    WouldBlock, // the socket has no room (sending) or no bytes (receiving) yet
    Failed,     // the peer went away, or the file being sent shrank
    FileFailed  // the file being written takes no more
};

// Sends up to length bytes of fd, from *offset on, to the socket with sendfile(); *offset and
// *length follow what was sent.
Step sendFile(int socket, int fd, uint64_t* offset, uint64_t* length);

// The pipe that splice() needs between a socket and a file.
class Pipe {
public:
    Pipe() = default;
    ~Pipe() { close(); }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    bool open();
    void close();

    // Moves up to *length bytes from the socket into the file (at its position); *length follows
    // what is left, and *moved counts what reached the file.
    Step receive(int socket, int file, uint64_t* length, uint64_t* moved);

private:
    int m_fds[2] = {-1, -1};
};

} // namespace KernelCopy
