#include "qrcode/QRCodeMessage.h"

#include <gtest/gtest.h>

TEST(QRCodeMessages, FormattersProduceExactBytes) {
    const std::pair<QByteArray, QByteArray> cases[] = {
        {QRCodeMessageText::create("h\u00e9 \U0001F600")->data(), "h\xc3\xa9 \xf0\x9f\x98\x80"},
        {QRCodeMessageLink(QUrl("https://vantry.app/i/ab%20c?x=1")).data(),
         "https://vantry.app/i/ab%20c?x=1"},
        {QRCodeMessageMail("a b@x.org").data(), "mailto:a%20b@x.org"},
        {QRCodeMessageMail("me@x.org", "Tom & Jerry", "50% \u00e9").data(),
         "mailto:me@x.org?subject=Tom%20&%20Jerry&body=50%25%20%C3%A9"},
        {QRCodeMessageMail("x@y", std::nullopt, "a=b/c?").data(), "mailto:x@y?body=a=b/c?"},
        {QRCodeMessagePhone("+1 (555) 010-99 ext").data(), "TEL:+155501099"},
        {QRCodeMessagePhone("\u0661\u0662-3").data(), "TEL:\xd9\xa1\xd9\xa2\x33"},
        {QRCodeMessagePhone("call me").data(), "TEL:"},
        {QRCodeMessageData(QByteArray("\x00\xff", 2)).data(), QByteArray("\x00\xff", 2)},
        {QRCodeMessageContact({}, "Ann").data(), "BEGIN:VCARD\nVERSION:3.0\nN:;;;;\nFN:Ann\nEND:VCARD"},
    };
    for (const auto& [got, want] : cases)
        EXPECT_EQ(got, want);
}

TEST(QRCodeMessages, ContactLinesInOrderWithNoteEscaping) {
    QRCodeMessageContactName name;
    name.lastName = "Doe";
    name.firstName = "Jane";
    name.nameSuffix = "Jr.";
    QRCodeMessageContactAddress home;
    home.type = "HOME";
    home.street = "1 Main St";
    home.country = "NZ";
    const QRCodeMessageContact card(name, "Jane Doe", {home}, "Acme, Inc", "CTO", {"+64 (9) 1"},
                                    {"j@d.nz", "k@d.nz"}, {"https://d.nz"}, {"a, b\n\nc", "x\ty"});
    EXPECT_EQ(card.data(), QByteArray("BEGIN:VCARD\nVERSION:3.0\nN:Doe;Jane;;;Jr.\nFN:Jane Doe\n"
                                      "ADR;TYPE=HOME:;;1 Main St;;;;NZ\nORG:Acme, Inc\nTITLE:CTO\n"
                                      "EMAIL:j@d.nz\nEMAIL:k@d.nz\nTEL:+64 (9) 1\nURL:https://d.nz\n"
                                      "NOTE:a\\, b c\nNOTE:x y\nEND:VCARD"));
}

TEST(QRCodeMessages, UnencodableInputGivesNoMessage) {
    const QString loneSurrogate(QChar(0xD800));
    EXPECT_FALSE(QRCodeMessageText::create(loneSurrogate));
    EXPECT_FALSE(QRCodeMessageLink::withString("http://exa mple.com/") || QRCodeMessageLink::withString(""));
    EXPECT_EQ(QRCodeMessageLink::withString("https://x.y/a").value_or(QRCodeMessageLink(QUrl())).data(),
              "https://x.y/a");
    EXPECT_EQ(QRCodeMessageMail(loneSurrogate).data(), QByteArray("mailto:"));
}
