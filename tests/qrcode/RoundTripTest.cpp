#include "QrTestUtil.h"
#include "qrcode/QRCodeGenerator_Default.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <map>

namespace {

const ErrorCorrection kLevels[] = {ErrorCorrection::low, ErrorCorrection::medium, ErrorCorrection::quantize,
                                   ErrorCorrection::high};

QByteArray randomBytes(int n, quint32 seed) {
    QRandomGenerator rng(seed);
    QByteArray b(n, Qt::Uninitialized);
    for (auto& ch : b)
        ch = char(rng.bounded(256));
    return b;
}

void expectRoundTrip(const QByteArray& data, ErrorCorrection level, const char* label) {
    const QRCode code(data, level);
    ASSERT_GT(code.pixelSize(), 0) << label;
    const auto found = QRCode::DetectQRCodeDetails(qrtest::plainImage(code.boolMatrix(), 3));
    ASSERT_EQ(found.size(), 1) << label << " level " << int(level) << " size " << code.pixelSize();
    EXPECT_EQ(found.constFirst().bytes, data) << label;
    EXPECT_EQ(found.constFirst().errorCorrection, errorCorrectionLetter(level)) << label;
}

} // namespace

TEST(QRCodeRoundTrip, TypicalPayloadsAtEveryLevel) {
    const QByteArray link("https://vantry.app/i/3f9a7c2e-4b1d-4e8a-9c6f-1a2b3c4d5e6f?utm=qr&name=My%20App");
    const QByteArray binary = randomBytes(1000, 7);
    const QByteArray emoji = QStringLiteral("Gr\u00fc\u00dfe \U0001F680\U0001F30D \u65e5\u672c").toUtf8();
    for (ErrorCorrection level : kLevels) {
        expectRoundTrip(link, level, "link");
        expectRoundTrip(binary, level, "binary");
        expectRoundTrip(emoji, level, "emoji");
    }
    const QString text = QString::fromUtf8(emoji);
    EXPECT_EQ(QRCode::DetectQRCodes(
                  qrtest::plainImage(QRCode::withText(text, ErrorCorrection::medium).boolMatrix())),
              QStringList{text});
}

// Every version 1–40 at every level: consecutive byte capacities differ by at least 7 bytes, so a
// stride of 7 meets each version at least once.
TEST(QRCodeRoundTrip, EverySymbolSizeAtEveryLevel) {
    for (ErrorCorrection level : kLevels) {
        std::map<int, QByteArray> firstPayloadOfSize;
        for (int n = 1;; n += 7) {
            const QByteArray data = randomBytes(n, quint32(n));
            const auto matrix = QRCodeGenerator_Default().generate(data, level);
            if (!matrix)
                break;
            firstPayloadOfSize.emplace(matrix->dimension(), data);
        }
        ASSERT_EQ(firstPayloadOfSize.size(), 40u) << "level " << int(level);
        EXPECT_EQ(firstPayloadOfSize.begin()->first, 23);
        EXPECT_EQ(firstPayloadOfSize.rbegin()->first, 179);
        for (const auto& [dimension, data] : firstPayloadOfSize)
            expectRoundTrip(data, level, "sized");
    }
}
