#include "server/http/ClientAddress.h"

#include <boost/asio/ip/address.hpp>

namespace {

// The address as 16 bytes (IPv4 mapped into IPv6), or nothing.
std::optional<std::array<unsigned char, 16>> addressBytes(const QString& text) {
    boost::system::error_code ec;
    const auto address = boost::asio::ip::make_address(text.toStdString(), ec);
    if (ec)
        return std::nullopt;
    if (address.is_v4())
        return boost::asio::ip::make_address_v6(boost::asio::ip::v4_mapped, address.to_v4()).to_bytes();
    return address.to_v6().to_bytes();
}

// One address as a header names it: IPv6 in brackets, either with a port; nothing for
// "unknown", obfuscated identifiers ("_hidden") or garbage.
std::optional<QString> headerAddress(QString text) {
    text = text.trimmed();
    if (text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"')))
        text = text.mid(1, text.size() - 2).trimmed();
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return std::nullopt;
        text = text.mid(1, close - 1);
    } else if (text.count(QLatin1Char(':')) == 1) {
        text = text.left(text.indexOf(QLatin1Char(':'))); // IPv4 with a port
    }
    if (!addressBytes(text))
        return std::nullopt;
    return text;
}

// The "for=" values of a Forwarded header, in order (nearest proxy last).
QStringList forwardedFor(const QString& header) {
    QStringList out;
    for (const QString& element : header.split(QLatin1Char(','))) {
        for (const QString& pair : element.split(QLatin1Char(';'))) {
            const qsizetype eq = pair.indexOf(QLatin1Char('='));
            if (eq > 0 && pair.left(eq).trimmed().compare(QLatin1String("for"), Qt::CaseInsensitive) == 0)
                out.append(pair.mid(eq + 1));
        }
    }
    return out;
}

} // namespace

std::optional<TrustedProxies> TrustedProxies::parse(const QStringList& ranges, QString* bad) {
    TrustedProxies out;
    for (const QString& text : ranges) {
        const qsizetype slash = text.indexOf(QLatin1Char('/'));
        const QString host = slash < 0 ? text : text.left(slash);
        const auto bytes = addressBytes(host);
        const bool v4 = !host.contains(QLatin1Char(':'));
        const int width = v4 ? 32 : 128;
        bool ok = true;
        const int prefix = slash < 0 ? width : text.mid(slash + 1).toInt(&ok);
        if (!bytes || !ok || prefix < 0 || prefix > width || (slash >= 0 && text.mid(slash + 1).isEmpty())) {
            if (bad)
                *bad = text;
            return std::nullopt;
        }
        out.m_ranges.push_back(Range{*bytes, prefix + (v4 ? 96 : 0)});
    }
    return out;
}

bool TrustedProxies::contains(const QString& address) const {
    if (m_ranges.empty())
        return false; // without --trusted-proxy no request pays for parsing its address
    const auto bytes = addressBytes(address);
    if (!bytes)
        return false;
    for (const Range& range : m_ranges) {
        int bits = range.prefix;
        bool inside = true;
        for (int i = 0; i < 16 && bits > 0 && inside; ++i, bits -= 8) {
            const unsigned mask = bits >= 8 ? 0xffu : (0xffu << (8 - bits)) & 0xffu;
            inside = ((*bytes)[i] & mask) == (range.bytes[i] & mask);
        }
        if (inside)
            return true;
    }
    return false;
}

QString clientAddress(const QString& peer, const QString& forwarded, const QString& forwardedForHeader,
                      const TrustedProxies& trusted) {
    if (!trusted.contains(peer))
        return peer;
    const QStringList chain =
        !forwarded.trimmed().isEmpty() ? forwardedFor(forwarded) : forwardedForHeader.split(QLatin1Char(','));
    // Walk back from the nearest hop past our own proxies; the first other hop is the client.
    for (auto it = chain.crbegin(); it != chain.crend(); ++it) {
        const std::optional<QString> address = headerAddress(*it);
        if (!address)
            return peer; // an entry we cannot read: nothing before it can be trusted either
        if (!trusted.contains(*address))
            return *address;
    }
    return peer;
}
