#include "QrTestUtil.h"

#include "qrcode/QRCodeDocument.h"

#include "support/TestSupport.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace {

const QString kLink = QStringLiteral("https://vantry.app/abcDEF1234");

// zbar's command-line reader: the decoder behind many Linux and older Android scanners.
QString zbarRead(const QByteArray& png) {
    const QString path =
        testsupport::writeFile(testsupport::makeTempDir() + QStringLiteral("/code.png"), png);
    QProcess zbar;
    zbar.start("zbarimg", {"--raw", "-q", path});
    if (!zbar.waitForFinished(30000))
        return "(zbarimg did not finish)";
    return QString::fromUtf8(zbar.readAllStandardOutput()).trimmed();
}

} // namespace

// The codes Vantry puts on install pages and in jobs (squircle modules and eyes) are read by both
// common decoders, for short and long links.
TEST(QRCodeScanCheck, InstallLinkCodesReadWithZbarAndZxing) {
    for (const QString& link :
         {kLink, kLink + QStringLiteral("__android"),
          QStringLiteral("itms-services://"
                         "?action=download-manifest&url=https%3A%2F%2Fdl.dropboxusercontent.com%2Fs%2F") +
              QString(120, u'x') + QStringLiteral("%2Fmanifest.plist")}) {
        const std::optional<QByteArray> png = QRCodeDocument::linkPngData(link);
        ASSERT_TRUE(png) << link.toStdString();
        EXPECT_EQ(zbarRead(*png), link);
        EXPECT_TRUE(QRCodeDocument::forLink(link).scanCheck().reads()) << link.toStdString();
        EXPECT_EQ(QRCode::DetectQRCodes(QImage::fromData(*png, "PNG")), QStringList{link});
    }
}

// The check reads the drawing, not the matrix: a drawing of other bytes or of nothing fails.
TEST(QRCodeScanCheck, ReadsOnlyTheGivenBytes) {
    const QRCodeDocument doc = QRCodeDocument::forLink(kLink);
    EXPECT_TRUE(doc.qrcode().scanCheck(doc.design(), kLink.toUtf8()).reads());
    const QRCodeScanCheck other = doc.qrcode().scanCheck(doc.design(), "other");
    EXPECT_EQ(other.unreadableSizes, (QList<int>{doc.pixelSize() * 3, 700}));
    EXPECT_EQ(other.problem(), QStringLiteral("a standard decoder does not read it at %1 px nor at 700 px")
                                   .arg(doc.pixelSize() * 3));
    EXPECT_FALSE(QRCode(std::make_shared<QRCodeGenerator_None>()).scanCheck(doc.design(), {}).reads());
}
