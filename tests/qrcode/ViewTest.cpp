#include "QrTestUtil.h"

#include "qrcode/QRCodeMessage.h"
#include "qrcode/widgets/QRCodeVideoDetector.h"
#include "qrcode/widgets/QRCodeView.h"

#include "support/TestSupport.h"

#include <QCameraDevice>
#include <QMediaDevices>
#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

TEST(QRCodeViewWidget, DrawsItsDocumentAndFollowsDesignProperties) {
    QRCodeView view;
    EXPECT_TRUE(view.setString("https://vantry.app/i/view"));
    EXPECT_FALSE(view.setString(QString(QChar(0xDC00))));
    EXPECT_EQ(view.data(), "https://vantry.app/i/view");
    view.setProperty("ibPixelShape", "circle");
    view.setProperty("ibEyeShape", "leaf");
    EXPECT_EQ(view.design().shape.onPixels->name() + ' ' + view.design().shape.eye->name(), "circle leaf");
    view.setIbPixelShape("no such shape");
    EXPECT_EQ(view.design().shape.onPixels->name(), "square");
    view.setIbCorrectionLevel("h");
    EXPECT_EQ(view.errorCorrection(), ErrorCorrection::high);
    EXPECT_EQ(view.ibCorrectionLevel(), "H");
    view.setIbPixelColor(QColor(0, 0, 90));
    EXPECT_EQ(view.ibPixelColor(), QColor(0, 0, 90));
    view.resize(300, 300);
    EXPECT_EQ(QRCode::DetectQRCodes(view.grab().toImage()), QStringList{"https://vantry.app/i/view"});
    view.setMessage(QRCodeMessagePhone("+1 555"));
    EXPECT_EQ(QRCode::DetectQRCodes(view.grab().toImage()), QStringList{"TEL:+1555"});
}

TEST(QRCodeViewWidget, DragDataOffersPdfPngAndADroppedFile) {
    QRCodeView view;
    view.setString("https://vantry.app/i/drag");
    view.setDragImageSize(QSizeF(200, 200));
    view.setDropFolder(testsupport::makeTempDir());
    std::unique_ptr<QMimeData> mime(view.createDragData());
    EXPECT_TRUE(mime->data("application/pdf").startsWith("%PDF"));
    const QImage png = QImage::fromData(mime->data("image/png"), "PNG");
    EXPECT_EQ(png.size(), QSize(200, 200));
    EXPECT_EQ(QRCode::DetectQRCodes(png), QStringList{"https://vantry.app/i/drag"});
    ASSERT_EQ(mime->urls().size(), 1);
    EXPECT_EQ(mime->urls().constFirst().fileName(), "Dropped QRCode.pdf");
    EXPECT_TRUE(testsupport::readFile(mime->urls().constFirst().toLocalFile()).startsWith("%PDF"));
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
