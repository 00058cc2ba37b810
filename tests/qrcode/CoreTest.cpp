#include "QrTestUtil.h"

#include "qrcode/QRCodeGenerator_Default.h"
#include "qrcode/QRCodeMessage.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <map>

// Level letters are checked against the decoder's in the round trips.
TEST(QRCodeCore, BoolMatrixAndLevelBounds) {
    EXPECT_FALSE(errorCorrectionFromInt(-1) || errorCorrectionFromInt(4));
    EXPECT_EQ(errorCorrectionFromInt(3), ErrorCorrection::high);
    EXPECT_FALSE(QRCodeBoolMatrix::fromFlattened(3, QList<bool>(8, true)));
    EXPECT_FALSE(QRCodeBoolMatrix::fromRawFlattenedInt(2, {1, 0, 1}));
    // Row-major, any non-zero value dark; reads and writes outside give nothing.
    auto m = QRCodeBoolMatrix::fromRawFlattenedInt(2, {2, 0, -1, 0});
    ASSERT_TRUE(m);
    EXPECT_EQ(m->content().array, (std::vector<std::uint8_t>{1, 0, 1, 0}));
    EXPECT_TRUE(m->value(1, 0) == true && m->value(0, 1) == false);
    EXPECT_FALSE(m->value(2, 0) || m->value(0, -1) || m->setValue(0, 2, true));
    EXPECT_TRUE(m->setValue(0, 1, true) && m->value(0, 1) == true);
}

TEST(QRCodeCore, AsciiRenderingsDefaultEngineLayoutAndOtherEngines) {
    const QRCode code =
        qrtest::codeFor(*QRCodeBoolMatrix::fromRawFlattenedInt(3, {1, 0, 1, 1, 1, 0, 0, 1, 0}));
    EXPECT_EQ(code.asciiRepresentation(),
              QStringLiteral("\u2588\u2588  \u2588\u2588\n\u2588\u2588\u2588\u2588  \n  \u2588\u2588  \n"));
    // Rows 0/1 pair up; row 2 stands alone with upper halves only.
    EXPECT_EQ(code.smallAsciiRepresentation(), QStringLiteral("\u2588\u2584\u2580\n \u2580 \n"));

    const QRCode empty;
    // The empty message still makes a version-1 symbol plus the one-module border.
    ASSERT_EQ(empty.pixelSize(), 23);
    const QRCodeBoolMatrix& m = empty.boolMatrix();
    for (int i = 0; i < 23; ++i)
        EXPECT_FALSE(m(0, i) || m(22, i) || m(i, 0) || m(i, 22)) << i;
    // Finder placement inside the border is proven by decoding every size below.
    EXPECT_TRUE(m(1, 1) && m(1, 21) && m(21, 1));

    const QRCode fromMessage = QRCode::withMessage(QRCodeMessagePhone("+1 2"), ErrorCorrection::low);
    EXPECT_EQ(QRCode::DetectQRCodes(qrtest::plainImage(fromMessage.boolMatrix())), QStringList{"TEL:+12"});

    QRCode none(std::make_shared<QRCodeGenerator_None>());
    none.updateWithText("hello", ErrorCorrection::low);
    EXPECT_EQ(none.pixelSize(), 0);
    EXPECT_TRUE(none.asciiRepresentation().isEmpty() && none.smallAsciiRepresentation().isEmpty());
}

// At every level the largest code takes exactly its capacity; one byte more is reported as a value
// naming the level and the capacity, and the previous matrix stays.
TEST(QRCodeCore, TooMuchDataIsReportedPerLevel) {
    const struct {
        ErrorCorrection level;
        qsizetype capacity;
        const char* tail;
    } levels[] = {{ErrorCorrection::low, 2953, "2,954 bytes, at most 2,953 bytes at level L"},
                  {ErrorCorrection::medium, 2331, "2,332 bytes, at most 2,331 bytes at level M"},
                  {ErrorCorrection::quantize, 1663, "1,664 bytes, at most 1,663 bytes at level Q"},
                  {ErrorCorrection::high, 1273, "1,274 bytes, at most 1,273 bytes at level H"}};
    for (const auto& l : levels) {
        QRCode code;
        EXPECT_EQ(QRCode::capacity(l.level), l.capacity);
        EXPECT_FALSE(code.update(QByteArray(l.capacity, 'x'), l.level));
        EXPECT_EQ(code.pixelSize(), 179);
        const auto before = code.sharedMatrix();
        const auto tooMuch = code.update(QByteArray(l.capacity + 1, 'x'), l.level);
        ASSERT_TRUE(tooMuch);
        EXPECT_EQ(tooMuch->message(), QStringLiteral("too much data for a QR code: ") + l.tail);
        EXPECT_EQ(code.sharedMatrix(), before);
    }
    // An engine that cannot encode at all is not "too much data".
    EXPECT_FALSE(QRCode(std::make_shared<QRCodeGenerator_None>()).update("abc", ErrorCorrection::low));
}

// Every version 1–40 at every level decodes back to its bytes and level: consecutive byte
// capacities differ by at least 7 bytes, so a stride of 7 meets each version at least once.
TEST(QRCodeRoundTrip, EverySymbolSizeAtEveryLevel) {
    for (ErrorCorrection level :
         {ErrorCorrection::low, ErrorCorrection::medium, ErrorCorrection::quantize, ErrorCorrection::high}) {
        std::map<int, QByteArray> firstPayloadOfSize;
        for (int n = 1;; n += 7) {
            QRandomGenerator rng(n);
            QByteArray data(n, Qt::Uninitialized);
            for (char& ch : data)
                ch = char(rng.bounded(256));
            const auto matrix = QRCodeGenerator_Default().generate(data, level);
            if (!matrix)
                break;
            firstPayloadOfSize.emplace(matrix->dimension(), data);
        }
        ASSERT_EQ(firstPayloadOfSize.size(), 40u) << "level " << int(level);
        EXPECT_EQ(firstPayloadOfSize.begin()->first, 23);
        EXPECT_EQ(firstPayloadOfSize.rbegin()->first, 179);
        for (const auto& [dimension, data] : firstPayloadOfSize) {
            const auto found =
                QRCode::DetectQRCodeDetails(qrtest::plainImage(QRCode(data, level).boolMatrix(), 3));
            ASSERT_EQ(found.size(), 1) << "level " << int(level) << " size " << dimension;
            EXPECT_EQ(found.constFirst().bytes, data);
            EXPECT_EQ(found.constFirst().errorCorrection, errorCorrectionLetter(level));
        }
    }
    // Text beyond ASCII comes back as the same text.
    const QString text = QStringLiteral("Gr\u00fc\u00dfe \U0001F680\U0001F30D \u65e5\u672c");
    EXPECT_EQ(QRCode::DetectQRCodes(
                  qrtest::plainImage(QRCode::withText(text, ErrorCorrection::medium).boolMatrix())),
              QStringList{text});
}

TEST(QRCodeMessages, FormattersProduceExactBytesAndNothingFromUnencodableInput) {
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
    // Unencodable input gives no message.
    const QString loneSurrogate(QChar(0xD800));
    EXPECT_FALSE(QRCodeMessageText::create(loneSurrogate));
    EXPECT_FALSE(QRCodeMessageLink::withString("http://exa mple.com/") || QRCodeMessageLink::withString(""));
    EXPECT_EQ(QRCodeMessageLink::withString("https://x.y/a").value_or(QRCodeMessageLink(QUrl())).data(),
              "https://x.y/a");
    EXPECT_EQ(QRCodeMessageMail(loneSurrogate).data(), QByteArray("mailto:"));
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
