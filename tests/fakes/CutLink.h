#pragma once

#include <cstdint>
#include <memory>

// A relay on a free loopback port in front of a local server that drops connections on demand, as a
// failing network would, for servers the tests cannot cut from inside (vantry-server).
class CutLink {
public:
    explicit CutLink(std::uint16_t targetPort);
    ~CutLink();
    std::uint16_t port() const;
    // Bytes that have gone towards the server so far.
    std::int64_t sent() const;
    // Resets the connection during which `bytes` more bytes have gone towards the server; `times`
    // cuts in a row: each further one meets the first connection opened after the cut before.
    void cut(std::int64_t bytes, int times = 1);

private:
    struct State;
    std::shared_ptr<State> d;
};
