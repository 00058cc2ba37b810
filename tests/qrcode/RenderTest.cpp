#include "QrTestUtil.h"

#include "qrcode/QRCodeDocument.h"

#include "support/TestSupport.h"

#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace {

const QString kLink = QStringLiteral("https://vantry.app/i/7c2e4b1d-9c6f?src=qr");
const QString kShortLink = QStringLiteral("https://vantry.app/abcDEF1234");

std::vector<std::pair<const char*, QRCodeFillStylePtr>> fills() {
    const LumGradient dark({LumGradientPin(QColor(0, 0, 0), 0), LumGradientPin(QColor(20, 30, 110), 1)});
    return {{"solid", std::make_shared<QRCodeFillStyleSolid>(QColor(20, 20, 60))},
            {"linear", std::make_shared<QRCodeFillStyleLinearGradient>(dark, QPointF(0, 0), QPointF(1, 1))},
            {"radial", std::make_shared<QRCodeFillStyleRadialGradient>(dark, QPointF(0.5, 0.5))}};
}

QImage fromPng(const std::optional<QByteArray>& png) {
    return QImage::fromData(png.value_or(QByteArray()), "PNG");
}

// zbar's command-line reader: the decoder behind many Linux and older Android scanners.
QString zbarRead(const QByteArray& png) {
    const QString path =
        testsupport::writeFile(testsupport::makeTempDir() + QStringLiteral("/code.png"), png);
    return QString::fromUtf8(testsupport::runProgram("zbarimg", {"--raw", "-q", path}).out).trimmed();
}

} // namespace

// Every pixel × eye × fill decodes from the PNG. The scan check flags exactly the bar pupils: they
// split the finder pattern's 1:1:3:1:1 runs, so a standard decoder reads those 16 pairs and all
// the others.
TEST(QRCodeRendering, EveryShapeEyeAndFillDecodesAndTheScanCheckFlagsBarPupils) {
    int flagged = 0;
    for (const auto& [fillName, fill] : fills()) {
        for (const auto& pixel : QRCodePixelShapeFactory::shared().registeredTypes()) {
            for (const auto& eye : QRCodeEyeShapeFactory::shared().registeredTypes()) {
                SCOPED_TRACE(std::string(fillName) + " " + pixel.name().toStdString() + " " +
                             eye.name().toStdString());
                QRCodeDocument doc = QRCodeDocument::withUtf8String(kLink);
                doc.design().shape.onPixels = pixel.create({});
                doc.design().shape.eye = eye.create({});
                doc.design().style.onPixels = fill;
                const QImage image = fromPng(doc.pngData(700));
                ASSERT_EQ(image.size(), QSize(700, 700));
                EXPECT_EQ(QRCode::DetectQRCodes(image), QStringList{kLink});
                if (QByteArray(fillName) != "solid")
                    continue;
                const QRCodeScanCheck check = doc.scanCheck();
                EXPECT_EQ(check.reads(), !eye.name().startsWith("bars")) << check.problem().toStdString();
                EXPECT_EQ(check.problem().isEmpty(), check.reads());
                flagged += check.reads() ? 0 : 1;
            }
        }
    }
    EXPECT_EQ(flagged, 16);
}

TEST(QRCodeRendering, SnappedRasterMatchesThePathRenderer) {
    const auto channelGap = [](QRgb a, QRgb b) {
        return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                         std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
    };
    for (const auto& [fillName, fill] : fills()) {
        for (const auto& pixel : {"squircle", "circle", "square", "pointy", "roundedPath"}) {
            QRCodeDocument doc = QRCodeDocument::forLink(kLink);
            doc.design().shape.onPixels = QRCodePixelShapeFactory::shared().named(pixel);
            doc.design().style.onPixels = fill;
            doc.design().style.background = nullptr;
            const QImage fast = *doc.image(QSizeF(700, 700), 1);
            QImage slow(700, 700, QImage::Format_ARGB32_Premultiplied);
            slow.fill(Qt::transparent);
            QPainter painter(&slow);
            doc.draw(painter, QRectF(0, 0, 700, 700));
            painter.end();
            int differing = 0;
            for (int y = 0; y < 700; ++y)
                for (int x = 0; x < 700; ++x)
                    differing += channelGap(fast.pixel(x, y), slow.pixel(x, y)) > 64 ? 1 : 0;
            // Snapping moves module edges by at most half a pixel.
            EXPECT_LT(differing, 700 * 700 / 100) << fillName << " " << pixel;
        }
    }
}

TEST(QRCodeRendering, PdfDecodes) {
    QRCodeDocument doc = QRCodeDocument::forLink(kLink);
    doc.design().style.onPixels = fills()[1].second;
    const auto pdf = doc.pdfDataWithDimension(500, 72);
    ASSERT_TRUE(pdf && pdf->startsWith("%PDF"));
    if (QStandardPaths::findExecutable("pdftoppm").isEmpty())
        GTEST_SKIP() << "pdftoppm is not installed";
    const QString dir = testsupport::makeTempDir();
    testsupport::writeFile(dir + "/code.pdf", *pdf);
    ASSERT_EQ(
        QProcess::execute("pdftoppm", {"-r", "72", "-png", "-singlefile", dir + "/code.pdf", dir + "/page"}),
        0);
    const QImage page(dir + "/page.png");
    EXPECT_EQ(page.size(), QSize(500, 500));
    EXPECT_EQ(QRCode::DetectQRCodes(page), QStringList{kLink});
}

TEST(QRCodeRendering, SvgTextByteForByte) {
    // Rows 0 and 1: (0,0) and (1,0), (1,1) dark.
    const QRCode code = qrtest::codeFor(*QRCodeBoolMatrix::fromRawFlattenedInt(2, {1, 0, 1, 1}));
    const auto svg = [](int box, const char* background, const char* path, const char* fill) {
        return QStringLiteral(
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG "
                   "1.1//EN\" \"http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd\">\n<svg "
                   "xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" viewBox=\"0 0 %1 %1\" "
                   "stroke=\"none\">\n%2\n<path d=\"%3\" fill=\"%4\"/>\n</svg>")
            .arg(QString::number(box), background, path, fill);
    };
    EXPECT_EQ(code.svg(0, 2, Qt::black, QColor(Qt::white)),
              svg(6, "<rect width=\"100%\" height=\"100%\" fill=\"#ffffffff\"/>",
                  "M2.0,2.0h1.0v1.0h-1.0z M3.0,2.0h1.0v1.0h-1.0z M3.0,3.0h1.0v1.0h-1.0z", "#000000ff"));
    EXPECT_EQ(
        code.svg(8, 0, QColor(255, 0, 0, 128), std::nullopt),
        svg(8, "", "M0.0,0.0h4.0v4.0h-4.0z M4.0,0.0h4.0v4.0h-4.0z M4.0,4.0h4.0v4.0h-4.0z", "#ff000080"));
    EXPECT_EQ(code.svg(5, 1, QColor(), QColor()),
              svg(5, "", "M1.25,1.25h1.25v1.25h-1.25z M2.5,1.25h1.25v1.25h-1.25z M2.5,2.5h1.25v1.25h-1.25z",
                  "#000000"));
}

TEST(QRCodeRendering, ImageSizesAndFailures) {
    const QRCodeDocument doc = QRCodeDocument::forLink(kLink);
    EXPECT_FALSE(doc.bitmap(QSizeF(qInf(), 10)) || doc.bitmap(QSizeF(std::nan(""), 10)) ||
                 doc.pdfData(QSizeF(qInf(), 10)));
    EXPECT_EQ(doc.bitmap(QSizeF(700.9, 500.2))->size(), QSize(700, 500));
    // Black on white needs no colour channels.
    EXPECT_EQ(fromPng(QRCodeDocument::linkPngData(kLink)).format(), QImage::Format_Grayscale8);

    // Transparent background: the PNG keeps its alpha channel.
    QRCodeDocument clear = QRCodeDocument::forLink(kLink);
    clear.design().backgroundColor(std::nullopt);
    const QImage decoded = fromPng(clear.pngData(200));
    EXPECT_EQ(decoded.pixelColor(0, 0).alpha(), 0);
    EXPECT_EQ(decoded.convertToFormat(QImage::Format_ARGB32_Premultiplied),
              clear.bitmapWithDimension(200)->convertToFormat(QImage::Format_ARGB32_Premultiplied));
}

// The codes Vantry puts on install pages and in jobs (squircle modules and eyes) are read by both
// common decoders, for short and long links.
TEST(QRCodeScanCheck, InstallLinkCodesReadWithZbarAndZxing) {
    for (const QString& link :
         {kShortLink, kShortLink + QStringLiteral("__android"),
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
    const QRCodeDocument doc = QRCodeDocument::forLink(kShortLink);
    EXPECT_TRUE(doc.qrcode().scanCheck(doc.design(), kShortLink.toUtf8()).reads());
    const QRCodeScanCheck other = doc.qrcode().scanCheck(doc.design(), "other");
    EXPECT_EQ(other.unreadableSizes, (QList<int>{doc.pixelSize() * 3, 700}));
    EXPECT_EQ(other.problem(), QStringLiteral("a standard decoder does not read it at %1 px nor at 700 px")
                                   .arg(doc.pixelSize() * 3));
    EXPECT_FALSE(QRCode(std::make_shared<QRCodeGenerator_None>()).scanCheck(doc.design(), {}).reads());
}
