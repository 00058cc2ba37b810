#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>
#include <optional>

// iOS's profile service, as the device check uses it: a configuration profile that asks the
// phone to post its own identifiers to the server, and the answer the phone then sends.
namespace DeviceProfile {

inline constexpr qsizetype maxAnswerBytes = 64 * 1024;

// What a phone sends: a CMS SignedData in DER whose content is a property list.
struct Answer {
    QString udid;
    QString product;    // "iPhone15,2"
    QString version;    // the system's build, "21F90"
    QString deviceName; // "" when the phone leaves it out
    QString challenge;
};

// The .mobileconfig: a "Profile Service" payload that asks for UDID, PRODUCT, VERSION and
// DEVICE_NAME to be posted to answerUrl together with the challenge.
QByteArray payload(const QString& answerUrl, const QString& challenge, const QString& appName,
                   const QString& appid);

// The phone's answer, read with the bounded DER walk and the property-list guard; its signature
// is not checked. Nothing when it is too large, not CMS, not a list the guard passes, or when a
// key is missing or malformed (the UDID must be one).
std::optional<Answer> readAnswer(QByteArrayView body);

// Signs profiles with a certificate and key (PEM; further certificates in the file go along
// as the chain) through OpenSSL's CMS, so that phones show who made them.
class Signer {
public:
    // Nothing when the files cannot be read.
    static std::unique_ptr<Signer> load(const QString& certificateFile, const QString& keyFile);
    ~Signer();
    // The signed message in DER; nothing when signing failed.
    std::optional<QByteArray> sign(const QByteArray& content) const;

private:
    struct Keys;
    explicit Signer(std::unique_ptr<Keys> keys);
    std::unique_ptr<Keys> m_keys;
};

} // namespace DeviceProfile
