#include "QrTestUtil.h"

#include "qrcode/QRCodeMessage.h"
#include "qrcode/widgets/QRCodeVideoDetector.h"
#include "qrcode/widgets/QRCodeView.h"

#include "support/TestSupport.h"

#include <QCameraDevice>
#include <QFile>
#include <QMediaDevices>
#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

TEST(QRCodeViewWidget, DrawsItsDocumentAndFollowsDesignProperties) {
    QRCodeView view;
    EXPECT_EQ(view.document().design().shape.onPixels->name(), QStringLiteral("square"));
    EXPECT_TRUE(view.setString(QStringLiteral("https://vantry.app/i/view")));
    EXPECT_FALSE(view.setString(QString(QChar(0xDC00))));
    EXPECT_EQ(view.data(), QByteArray("https://vantry.app/i/view"));
    view.setProperty("ibPixelShape", QStringLiteral("circle"));
    view.setProperty("ibEyeShape", QStringLiteral("leaf"));
    EXPECT_EQ(view.design().shape.onPixels->name(), QStringLiteral("circle"));
    EXPECT_EQ(view.design().shape.eye->name(), QStringLiteral("leaf"));
    view.setIbPixelShape(QStringLiteral("no such shape"));
    EXPECT_EQ(view.design().shape.onPixels->name(), QStringLiteral("square"));
    view.setIbCorrectionLevel(QStringLiteral("h"));
    EXPECT_EQ(view.errorCorrection(), ErrorCorrection::high);
    EXPECT_EQ(view.ibCorrectionLevel(), QStringLiteral("H"));
    view.setIbPixelColor(QColor(0, 0, 90));
    EXPECT_EQ(view.ibPixelColor(), QColor(0, 0, 90));

    view.resize(300, 300);
    EXPECT_EQ(QRCode::DetectQRCodes(view.grab().toImage()),
              QStringList{QStringLiteral("https://vantry.app/i/view")});

    view.setMessage(QRCodeMessagePhone(QStringLiteral("+1 555")));
    EXPECT_EQ(QRCode::DetectQRCodes(view.grab().toImage()), QStringList{QStringLiteral("TEL:+1555")});
}

TEST(QRCodeViewWidget, DragDataOffersPdfPngAndADroppedFile) {
    QRCodeView view;
    view.setString(QStringLiteral("https://vantry.app/i/drag"));
    view.setDragImageSize(QSizeF(200, 200));
    view.setDropFolder(testsupport::makeTempDir());
    std::unique_ptr<QMimeData> mime(view.createDragData());
    EXPECT_TRUE(mime->data(QStringLiteral("application/pdf")).startsWith("%PDF"));
    QImage png;
    ASSERT_TRUE(png.loadFromData(mime->data(QStringLiteral("image/png")), "PNG"));
    EXPECT_EQ(png.size(), QSize(200, 200));
    EXPECT_EQ(QRCode::DetectQRCodes(png), QStringList{QStringLiteral("https://vantry.app/i/drag")});
    const QList<QUrl> urls = mime->urls();
    ASSERT_EQ(urls.size(), 1);
    EXPECT_EQ(urls.constFirst().fileName(), QStringLiteral("Dropped QRCode.pdf"));
    QFile dropped(urls.constFirst().toLocalFile());
    ASSERT_TRUE(dropped.open(QIODevice::ReadOnly));
    EXPECT_TRUE(dropped.readAll().startsWith("%PDF"));
}

TEST(QRCodeVideo, ReportsAMissingCamera) {
    if (!QMediaDevices::videoInputs().isEmpty())
        GTEST_SKIP() << "this machine has a camera";
    QRCodeVideoDetector detector;
    bool called = false;
    EXPECT_EQ(detector.start([&](const QStringList&) { called = true; }),
              QRCodeVideoDetector::CaptureError::noDefaultVideoDevice);
    EXPECT_FALSE(detector.isRunning());
    EXPECT_FALSE(called);
}
