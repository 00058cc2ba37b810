#include "plist/Der.h"

#include <QList>
#include <QTimeZone>

namespace {

// CMS nests a handful of levels; anything deeper is not a profile.
constexpr int maxDepth = 24;

// One BER element. Only low tag numbers occur in CMS and X.509.
struct Tlv {
    quint8 tag = 0;
    qsizetype content = 0;    // first byte of the contents
    qsizetype contentEnd = 0; // end of the contents (where an indefinite form's 00 00 begins)
    qsizetype end = 0;        // first byte after the element
    bool constructed() const { return tag & 0x20; }
};

std::optional<Tlv> readTlv(QByteArrayView d, qsizetype pos, qsizetype limit, int depth) {
    if (depth > maxDepth || pos < 0 || limit > d.size() || pos + 2 > limit)
        return std::nullopt;
    Tlv t;
    t.tag = quint8(d[pos]);
    if ((t.tag & 0x1f) == 0x1f)
        return std::nullopt;
    const quint8 first = quint8(d[pos + 1]);
    qsizetype p = pos + 2;
    if (first == 0x80) {
        // Indefinite length: the contents run to an end-of-contents marker at this level.
        if (!t.constructed())
            return std::nullopt;
        t.content = p;
        for (;;) {
            if (p + 2 > limit)
                return std::nullopt;
            if (d[p] == 0 && d[p + 1] == 0) {
                t.contentEnd = p;
                t.end = p + 2;
                return t;
            }
            const std::optional<Tlv> child = readTlv(d, p, limit, depth + 1);
            if (!child)
                return std::nullopt;
            p = child->end;
        }
    }
    quint64 length = first;
    if (first & 0x80) {
        const int n = first & 0x7f;
        if (n == 0 || n > 4 || p + n > limit)
            return std::nullopt;
        length = 0;
        for (int i = 0; i < n; ++i)
            length = (length << 8) | quint8(d[p++]);
    }
    if (length > quint64(limit - p))
        return std::nullopt;
    t.content = p;
    t.contentEnd = p + qsizetype(length);
    t.end = t.contentEnd;
    return t;
}

// The elements inside a constructed one, at most maxCount of them.
std::optional<QList<Tlv>> children(QByteArrayView d, const Tlv& parent, int depth, int maxCount = 16) {
    if (!parent.constructed())
        return std::nullopt;
    QList<Tlv> out;
    for (qsizetype p = parent.content; p < parent.contentEnd && out.size() < maxCount;) {
        const std::optional<Tlv> child = readTlv(d, p, parent.contentEnd, depth + 1);
        if (!child)
            return std::nullopt;
        out.append(*child);
        p = child->end;
    }
    return out;
}

bool collectOctets(QByteArrayView d, const Tlv& t, int depth, QByteArray& out) {
    if (t.tag == 0x04) {
        out.append(d.sliced(t.content, t.contentEnd - t.content));
        return true;
    }
    if (t.tag != 0x24 || depth > maxDepth)
        return false;
    const auto pieces = children(d, t, depth, 1 << 16);
    if (!pieces)
        return false;
    for (const Tlv& piece : *pieces) {
        if (!collectOctets(d, piece, depth + 1, out))
            return false;
    }
    return true;
}

// 1.2.840.113549.1.7.2, id-signedData.
constexpr char signedDataOid[] = "\x2a\x86\x48\x86\xf7\x0d\x01\x07\x02";

std::optional<QDateTime> asn1Time(QByteArrayView d, const Tlv& t) {
    const QByteArray text = d.sliced(t.content, t.contentEnd - t.content).toByteArray();
    QDateTime time;
    if (t.tag == 0x17 && text.size() == 13) { // UTCTime YYMMDDHHMMSSZ
        int year = text.left(2).toInt();
        year += year >= 50 ? 1900 : 2000;
        time = QDateTime::fromString(QString::number(year) + QString::fromLatin1(text.mid(2, 10)),
                                     QStringLiteral("yyyyMMddHHmmss"));
    } else if (t.tag == 0x18 && text.size() == 15) { // GeneralizedTime YYYYMMDDHHMMSSZ
        time = QDateTime::fromString(QString::fromLatin1(text.left(14)), QStringLiteral("yyyyMMddHHmmss"));
    }
    if (!time.isValid() || !text.endsWith('Z'))
        return std::nullopt;
    time.setTimeZone(QTimeZone::utc());
    return time;
}

} // namespace

std::optional<QByteArray> Der::signedContent(QByteArrayView der) {
    const auto root = readTlv(der, 0, der.size(), 0);
    if (!root || root->tag != 0x30)
        return std::nullopt;
    const auto info = children(der, *root, 0, 2);
    if (!info || info->size() != 2 || (*info)[0].tag != 0x06 || (*info)[1].tag != 0xA0 ||
        der.sliced((*info)[0].content, (*info)[0].contentEnd - (*info)[0].content) !=
            QByteArrayView(signedDataOid, sizeof signedDataOid - 1))
        return std::nullopt;
    const auto explicitContent = children(der, (*info)[1], 1, 1);
    if (!explicitContent || explicitContent->isEmpty() || explicitContent->constFirst().tag != 0x30)
        return std::nullopt;
    // SignedData: version, digestAlgorithms, encapContentInfo, …
    const auto signedData = children(der, explicitContent->constFirst(), 2, 3);
    if (!signedData || signedData->size() != 3 || (*signedData)[0].tag != 0x02 ||
        (*signedData)[1].tag != 0x31 || (*signedData)[2].tag != 0x30)
        return std::nullopt;
    const auto encap = children(der, (*signedData)[2], 3, 2);
    if (!encap || encap->size() != 2 || (*encap)[0].tag != 0x06 || (*encap)[1].tag != 0xA0)
        return std::nullopt;
    const auto octets = children(der, (*encap)[1], 4, 1);
    if (!octets || octets->isEmpty())
        return std::nullopt;
    QByteArray content;
    if (!collectOctets(der, octets->constFirst(), 5, content))
        return std::nullopt;
    return content;
}

std::optional<QDateTime> Der::certificateNotAfter(QByteArrayView der) {
    const auto cert = readTlv(der, 0, der.size(), 0);
    if (!cert || cert->tag != 0x30)
        return std::nullopt;
    const auto parts = children(der, *cert, 0, 1);
    if (!parts || parts->isEmpty() || parts->constFirst().tag != 0x30)
        return std::nullopt;
    // TBSCertificate: [0] version (optional), serialNumber, signature, issuer, validity, …
    const auto tbs = children(der, parts->constFirst(), 1, 6);
    if (!tbs)
        return std::nullopt;
    const qsizetype first = !tbs->isEmpty() && tbs->constFirst().tag == 0xA0 ? 1 : 0;
    if (tbs->size() < first + 4 || (*tbs)[first + 3].tag != 0x30)
        return std::nullopt;
    const auto validity = children(der, (*tbs)[first + 3], 2, 2);
    if (!validity || validity->size() != 2)
        return std::nullopt;
    return asn1Time(der, (*validity)[1]);
}
