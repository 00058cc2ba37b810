// wan-link ROUND_TRIP_MS BYTES_PER_SECOND TARGET_PORT...
// Puts a wide-area link (WanLink) in front of each loopback port: prints "TARGET_PORT LINK_PORT" for
// each, one a line, then carries connections until SIGINT or SIGTERM. BYTES_PER_SECOND 0: no cap.
#include "WanLink.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: wan-link ROUND_TRIP_MS BYTES_PER_SECOND TARGET_PORT...\n");
        return 2;
    }
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    // Blocked before any thread starts, so that only sigwait below receives them.
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    WanLink link({std::atoi(argv[1]), std::atof(argv[2])});
    for (int i = 3; i < argc; ++i) {
        const int target = std::atoi(argv[i]);
        const unsigned port = link.forward(std::uint16_t(target));
        if (port == 0)
            return 1;
        std::printf("%d %u\n", target, port);
    }
    std::fflush(stdout);
    int received = 0;
    sigwait(&stops, &received);
    link.stop();
    return 0;
}
