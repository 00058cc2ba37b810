#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>

#include <optional>

// A bounded walk through the DER (and streamed BER) of CMS messages and certificates: what
// provisioning profiles and the answers of a phone's profile service come in. Signatures are
// read past, never checked.
namespace Der {

// The content of a CMS SignedData message (the eContent OCTET STRING, its pieces joined when
// it is sent in constructed form). Reads DER and the indefinite lengths of BER, as signing
// tools stream them; nothing for anything else. Pure, bounded in depth and by the input.
std::optional<QByteArray> signedContent(QByteArrayView der);

// notAfter of an X.509 certificate in DER; nothing when the structure is not one.
std::optional<QDateTime> certificateNotAfter(QByteArrayView der);

} // namespace Der
