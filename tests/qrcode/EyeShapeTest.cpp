#include "QrTestUtil.h"

#include "qrcode/QRCodeEyeShape.h"

#include <gtest/gtest.h>

TEST(QRCodeEyeShapes, RingsLeaveTheHoleAndPupilsFillTheCentre) {
    constexpr int s = 4; // pixels per unit of the 90 × 90 box
    for (const auto& type : QRCodeEyeShapeFactory::shared().registeredTypes()) {
        const auto eye = type.create({});
        const std::string name = eye->name().toStdString();
        const QImage ring = qrtest::fill(QTransform::fromScale(s, s).map(eye->eyePath()), 90 * s, 90 * s);
        const QImage pupil = qrtest::fill(QTransform::fromScale(s, s).map(eye->pupilPath()), 90 * s, 90 * s);
        const auto at = [&](const QImage& img, double x, double y) {
            return qrtest::dark(img, x * s, y * s);
        };
        // Hole interior away from any rounding, ring midline on all four sides, outside the ring.
        for (double v = 32; v <= 58; v += 2) {
            EXPECT_FALSE(at(ring, v, 45)) << name;
            EXPECT_FALSE(at(ring, 45, v)) << name;
            EXPECT_FALSE(at(ring, v, v)) << name;
        }
        for (double v : {35.0, 45.0, 55.0}) {
            EXPECT_TRUE(at(ring, 15, v) && at(ring, 75, v) && at(ring, v, 15) && at(ring, v, 75)) << name;
            EXPECT_FALSE(at(ring, 5, v) || at(ring, 85, v) || at(ring, v, 5) || at(ring, v, 85)) << name;
        }
        EXPECT_TRUE(at(pupil, 45, 45) && at(pupil, 33, 45) && at(pupil, 57, 45) && at(pupil, 45, 33)) << name;
        EXPECT_FALSE(at(pupil, 27, 45) || at(pupil, 63, 45) || at(pupil, 45, 63) || at(pupil, 45, 27))
            << name;
        const QRectF bounds = eye->pupilPath().boundingRect();
        EXPECT_GE(bounds.left(), 30 - 1e-9) << name;
        EXPECT_LE(bounds.right(), 60 + 1e-9) << name;
    }
}

TEST(QRCodeEyeShapes, CornersMatchTheirNames) {
    // Outer corners (11, 11), (79, 11), (79, 79), (11, 79): painted only where the corner is sharp.
    const std::pair<std::shared_ptr<QRCodeEyeShapeGenerator>, const char*> cases[] = {
        {std::make_shared<QRCodeEyeStyleSquare>(), "1111"},
        {std::make_shared<QRCodeEyeStyleRoundedOuter>(), "0111"},
        {std::make_shared<QRCodeEyeStyleRoundedPointingIn>(), "0010"},
        {std::make_shared<QRCodeEyeShapeLeaf>(), "1010"}};
    for (const auto& [eye, corners] : cases) {
        const QImage image = qrtest::fill(QTransform::fromScale(4, 4).map(eye->eyePath()), 360, 360);
        QString painted;
        for (const QPoint corner : {QPoint(11, 11), QPoint(79, 11), QPoint(79, 79), QPoint(11, 79)})
            painted += qrtest::dark(image, corner.x() * 4, corner.y() * 4) ? '1' : '0';
        EXPECT_EQ(painted, corners) << eye->name().toStdString();
    }
}

TEST(QRCodeEyeShapes, Factory) {
    const auto& factory = QRCodeEyeShapeFactory::shared();
    EXPECT_EQ(
        factory.availableGeneratorNames().join(' '),
        "barsHorizontal barsVertical circle leaf roundedOuter roundedPointingIn roundedRect square squircle");
    const auto leaf = factory.createWithSettings({{"type", "leaf"}, {"settings", QVariantMap{{"x", 1}}}});
    ASSERT_TRUE(leaf);
    EXPECT_TRUE(leaf->name() == "leaf" && leaf->settings().isEmpty());
    EXPECT_FALSE(factory.named("Leaf"));
}
