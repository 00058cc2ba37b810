#include "server/devices/DeviceProfile.h"

#include "plist/Der.h"
#include "plist/PlistReader.h"
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

QString xmlEscape(const QString& text) {
    return text.toHtmlEscaped();
}

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
    const QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QString xml =
        QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
            "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
            "<plist version=\"1.0\">\n<dict>\n"
            "\t<key>PayloadContent</key>\n\t<dict>\n"
            "\t\t<key>URL</key>\n\t\t<string>%1</string>\n"
            "\t\t<key>DeviceAttributes</key>\n\t\t<array>\n"
            "\t\t\t<string>UDID</string>\n\t\t\t<string>PRODUCT</string>\n"
            "\t\t\t<string>VERSION</string>\n\t\t\t<string>DEVICE_NAME</string>\n\t\t</array>\n"
            "\t\t<key>Challenge</key>\n\t\t<string>%2</string>\n\t</dict>\n"
            "\t<key>PayloadDisplayName</key>\n\t<string>Device check for %3</string>\n"
            "\t<key>PayloadDescription</key>\n\t<string>Tells the install page of %3 whether this build "
            "includes this device. Nothing stays installed.</string>\n"
            "\t<key>PayloadOrganization</key>\n\t<string>Vantry</string>\n"
            "\t<key>PayloadIdentifier</key>\n\t<string>vantry.device-check.%4</string>\n"
            "\t<key>PayloadUUID</key>\n\t<string>%5</string>\n"
            "\t<key>PayloadVersion</key>\n\t<integer>1</integer>\n"
            "\t<key>PayloadType</key>\n\t<string>Profile Service</string>\n"
            "</dict>\n</plist>\n")
            .arg(xmlEscape(answerUrl), xmlEscape(challenge), xmlEscape(name), xmlEscape(appid), uuid);
    return xml.toUtf8();
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
