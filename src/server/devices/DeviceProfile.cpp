#include "server/devices/DeviceProfile.h"

#include "plist/Der.h"
#include "plist/PlistReader.h"
#include "plist/XmlPlist.h"
#include "records/DeviceCheck.h"

#include <QFile>
#include <QUuid>
#include <QVariantMap>

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace DeviceProfile {

namespace {

// A text value of the answer: present, short, and free of control characters.
std::optional<QString> text(const QVariantMap& answer, const char* key, qsizetype maxLength) {
    const QVariant v = answer.value(QLatin1String(key));
    if (v.typeId() != QMetaType::QString)
        return std::nullopt;
    const QString s = v.toString().trimmed();
    if (s.size() > maxLength)
        return std::nullopt;
    for (QChar c : s) {
        if (c.category() == QChar::Other_Control)
            return std::nullopt;
    }
    return s;
}

} // namespace

QByteArray payload(const QString& answerUrl, const QString& challenge, const QString& appName,
                   const QString& appid) {
    const QString name = appName.trimmed().isEmpty() ? QStringLiteral("this app") : appName.trimmed();
    const QVariantMap content{{QStringLiteral("URL"), answerUrl},
                              {QStringLiteral("DeviceAttributes"),
                               QStringList{QStringLiteral("UDID"), QStringLiteral("PRODUCT"),
                                           QStringLiteral("VERSION"), QStringLiteral("DEVICE_NAME")}},
                              {QStringLiteral("Challenge"), challenge}};
    return toXmlPlist(QVariantMap{
        {QStringLiteral("PayloadContent"), content},
        {QStringLiteral("PayloadDisplayName"), QStringLiteral("Device check for %1").arg(name)},
        {QStringLiteral("PayloadDescription"),
         QStringLiteral("Tells the install page of %1 whether this build includes this device. Nothing "
                        "stays installed.")
             .arg(name)},
        {QStringLiteral("PayloadOrganization"), QStringLiteral("Vantry")},
        {QStringLiteral("PayloadIdentifier"), QStringLiteral("vantry.device-check.") + appid},
        {QStringLiteral("PayloadUUID"), QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()},
        {QStringLiteral("PayloadVersion"), 1},
        {QStringLiteral("PayloadType"), QStringLiteral("Profile Service")}});
}

std::optional<Answer> readAnswer(QByteArrayView body) {
    if (body.size() > maxAnswerBytes)
        return std::nullopt;
    const std::optional<QByteArray> content = Der::signedContent(body);
    if (!content)
        return std::nullopt;
    const std::optional<QVariantMap> plist = PlistReader::dictionaryFromBytes(*content);
    if (!plist)
        return std::nullopt;
    const auto udid = text(*plist, "UDID", 40);
    const auto product = text(*plist, "PRODUCT", 64);
    const auto version = text(*plist, "VERSION", 64);
    const auto challenge = text(*plist, "CHALLENGE", 128);
    if (!udid || !DeviceIds::isValid(*udid) || !product || !version || !challenge || challenge->isEmpty())
        return std::nullopt;
    // The name is the tester's own choice and only a courtesy: a strange one is left out.
    return Answer{*udid, *product, *version, text(*plist, "DEVICE_NAME", 128).value_or(QString()),
                  *challenge};
}

struct Signer::Keys {
    X509* certificate = nullptr;
    STACK_OF(X509) * chain = nullptr;
    EVP_PKEY* key = nullptr;
    ~Keys() {
        X509_free(certificate);
        sk_X509_pop_free(chain, X509_free);
        EVP_PKEY_free(key);
    }
};

Signer::Signer(std::unique_ptr<Keys> keys) : m_keys(std::move(keys)) {}
Signer::~Signer() = default;

std::unique_ptr<Signer> Signer::load(const QString& certificateFile, const QString& keyFile) {
    auto keys = std::make_unique<Keys>();
    if (BIO* in = BIO_new_file(QFile::encodeName(certificateFile).constData(), "r")) {
        keys->certificate = PEM_read_bio_X509(in, nullptr, nullptr, nullptr);
        keys->chain = sk_X509_new_null();
        while (X509* more = PEM_read_bio_X509(in, nullptr, nullptr, nullptr))
            sk_X509_push(keys->chain, more);
        BIO_free(in);
    }
    if (BIO* in = BIO_new_file(QFile::encodeName(keyFile).constData(), "r")) {
        keys->key = PEM_read_bio_PrivateKey(in, nullptr, nullptr, nullptr);
        BIO_free(in);
    }
    if (!keys->certificate || !keys->key || X509_check_private_key(keys->certificate, keys->key) != 1)
        return nullptr;
    return std::unique_ptr<Signer>(new Signer(std::move(keys)));
}

std::optional<QByteArray> Signer::sign(const QByteArray& content) const {
    BIO* in = BIO_new_mem_buf(content.constData(), int(content.size()));
    CMS_ContentInfo* cms = CMS_sign(m_keys->certificate, m_keys->key, m_keys->chain, in, CMS_BINARY);
    BIO_free(in);
    if (!cms)
        return std::nullopt;
    BIO* out = BIO_new(BIO_s_mem());
    std::optional<QByteArray> signedBytes;
    if (i2d_CMS_bio(out, cms) == 1) {
        char* data = nullptr;
        const long length = BIO_get_mem_data(out, &data);
        signedBytes = QByteArray(data, qsizetype(length));
    }
    BIO_free(out);
    CMS_ContentInfo_free(cms);
    return signedBytes;
}

} // namespace DeviceProfile
