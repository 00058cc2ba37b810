#pragma once

#include <cstdint>
#include <memory>

// A wide-area link between a client and servers on loopback: every connection pays one round trip
// to open (the TCP handshake), every byte half a round trip each way, and all the bytes sent
// towards the servers share one bandwidth cap (as do the answers, with a cap of their own), like
// a household's uplink during an upload. Plain sockets and threads, so that the link itself stays
// far faster than the pace it imposes.
class WanLink {
public:
    struct Settings {
        int roundTripMs = 0;
        double bytesPerSecond = 0; // 0: no cap
    };

    explicit WanLink(Settings settings);
    ~WanLink();
    WanLink(const WanLink&) = delete;
    WanLink& operator=(const WanLink&) = delete;

    // Listens on a free loopback port and carries every connection to 127.0.0.1:targetPort;
    // the listening port, or 0 when none could be opened.
    std::uint16_t forward(std::uint16_t targetPort);
    // Closes the listeners and every connection.
    void stop();

private:
    struct State;
    std::shared_ptr<State> d;
};
