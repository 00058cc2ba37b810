#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <vector>

// The address ranges of the proxies in front of the server (--trusted-proxy CIDR).
class TrustedProxies {
public:
    // Nullopt when a range is malformed; *bad names it.
    static std::optional<TrustedProxies> parse(const QStringList& ranges, QString* bad);

    bool isEmpty() const { return m_ranges.empty(); }
    // An address as text (IPv4, IPv6, IPv4-mapped IPv6); false for anything unparsable.
    bool contains(const QString& address) const;

private:
    struct Range {
        std::array<unsigned char, 16> bytes{}; // IPv4 as IPv4-mapped IPv6
        int prefix = 0;                        // of the 128 bits
    };
    std::vector<Range> m_ranges;
};

// The client an HTTP request speaks for. Only a peer inside a trusted range may name another
// address: the nearest Forwarded "for=" that is not itself trusted, else the rightmost such entry
// of X-Forwarded-For. From any other peer, or when the headers name no usable address, the peer.
QString clientAddress(const QString& peer, const QString& forwarded, const QString& forwardedFor,
                      const TrustedProxies& trusted);
