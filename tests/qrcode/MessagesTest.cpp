#include "qrcode/QRCodeMessage.h"

#include <gtest/gtest.h>

TEST(QRCodeMessages, FormattersProduceExactBytes) {
    struct Case {
        const char* label;
        QByteArray got;
        QByteArray want;
    };
    const Case cases[] = {
        {"text utf8", QRCodeMessageText::create(QStringLiteral("h\u00e9 \U0001F600"))->data(),
         QByteArray("h\xc3\xa9 \xf0\x9f\x98\x80")},
        {"link", QRCodeMessageLink(QUrl(QStringLiteral("https://vantry.app/i/ab%20c?x=1"))).data(),
         QByteArray("https://vantry.app/i/ab%20c?x=1")},
        {"mail plain", QRCodeMessageMail(QStringLiteral("a b@x.org")).data(),
         QByteArray("mailto:a%20b@x.org")},
        {"mail subject and body",
         QRCodeMessageMail(QStringLiteral("me@x.org"), QStringLiteral("Tom & Jerry"),
                           QStringLiteral("50% \u00e9"))
             .data(),
         QByteArray("mailto:me@x.org?subject=Tom%20&%20Jerry&body=50%25%20%C3%A9")},
        {"mail body only",
         QRCodeMessageMail(QStringLiteral("x@y"), std::nullopt, QStringLiteral("a=b/c?")).data(),
         QByteArray("mailto:x@y?body=a=b/c?")},
        {"phone", QRCodeMessagePhone(QStringLiteral("+1 (555) 010-99 ext")).data(),
         QByteArray("TEL:+155501099")},
        {"phone other digits", QRCodeMessagePhone(QStringLiteral("\u0661\u0662-3")).data(),
         QByteArray("TEL:\xd9\xa1\xd9\xa2"
                    "3")},
        {"phone no digits", QRCodeMessagePhone(QStringLiteral("call me")).data(), QByteArray("TEL:")},
        {"data", QRCodeMessageData(QByteArray("\x00\xff", 2)).data(), QByteArray("\x00\xff", 2)},
        {"empty contact", QRCodeMessageContact({}, QStringLiteral("Ann")).data(),
         QByteArray("BEGIN:VCARD\nVERSION:3.0\nN:;;;;\nFN:Ann\nEND:VCARD")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.got, c.want) << c.label;
}

TEST(QRCodeMessages, ContactLinesInOrderWithNoteEscaping) {
    QRCodeMessageContactName name;
    name.lastName = QStringLiteral("Doe");
    name.firstName = QStringLiteral("Jane");
    name.nameSuffix = QStringLiteral("Jr.");
    QRCodeMessageContactAddress home;
    home.type = QStringLiteral("HOME");
    home.street = QStringLiteral("1 Main St");
    home.country = QStringLiteral("NZ");
    const QRCodeMessageContact card(
        name, QStringLiteral("Jane Doe"), {home}, QStringLiteral("Acme, Inc"), QStringLiteral("CTO"),
        {QStringLiteral("+64 (9) 1")}, {QStringLiteral("j@d.nz"), QStringLiteral("k@d.nz")},
        {QStringLiteral("https://d.nz")}, {QStringLiteral("a, b\n\nc"), QStringLiteral("x\ty")});
    EXPECT_EQ(card.data(), QByteArray("BEGIN:VCARD\nVERSION:3.0\nN:Doe;Jane;;;Jr.\nFN:Jane Doe\n"
                                      "ADR;TYPE=HOME:;;1 Main St;;;;NZ\nORG:Acme, Inc\nTITLE:CTO\n"
                                      "EMAIL:j@d.nz\nEMAIL:k@d.nz\nTEL:+64 (9) 1\nURL:https://d.nz\n"
                                      "NOTE:a\\, b c\nNOTE:x y\nEND:VCARD"));
}

TEST(QRCodeMessages, UnencodableInputGivesNoMessage) {
    const QString loneSurrogate(QChar(0xD800));
    EXPECT_FALSE(QRCodeMessageText::create(loneSurrogate));
    EXPECT_FALSE(QRCodeMessageLink::withString(QStringLiteral("http://exa mple.com/")));
    EXPECT_FALSE(QRCodeMessageLink::withString(QString()));
    ASSERT_TRUE(QRCodeMessageLink::withString(QStringLiteral("https://x.y/a")));
    EXPECT_EQ(QRCodeMessageLink::withString(QStringLiteral("https://x.y/a"))->data(),
              QByteArray("https://x.y/a"));
    EXPECT_EQ(QRCodeMessageMail(loneSurrogate).data(), QByteArray("mailto:"));
}
