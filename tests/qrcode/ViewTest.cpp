#include "QrTestUtil.h"

#include "qrcode/widgets/QRCodeView.h"

#include "support/TestSupport.h"

#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

TEST(QRCodeViewWidget, DragDataOffersPdfPngAndADroppedFile) {
    QRCodeView view;
    EXPECT_TRUE(view.setString("https://vantry.app/i/drag"));
    EXPECT_FALSE(view.setString(QString(QChar(0xDC00))));
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
