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
    const auto fillOf = [](const QRCodeEyeShapeGenerator& e) {
        return qrtest::fill(QTransform::fromScale(4, 4).map(e.eyePath()), 360, 360);
    };
    // Outer corners: (11, 11) is painted only where the corner is sharp.
    const QImage square = fillOf(QRCodeEyeStyleSquare());
    const QImage outer = fillOf(QRCodeEyeStyleRoundedOuter());
    const QImage pointingIn = fillOf(QRCodeEyeStyleRoundedPointingIn());
    const QImage leaf = fillOf(QRCodeEyeShapeLeaf());
    const auto corner = [](const QImage& img, double x, double y) { return qrtest::dark(img, x * 4, y * 4); };
    EXPECT_TRUE(corner(square, 11, 11) && corner(square, 79, 79));
    EXPECT_FALSE(corner(outer, 11, 11));
    EXPECT_TRUE(corner(outer, 79, 11) && corner(outer, 79, 79) && corner(outer, 11, 79));
    EXPECT_TRUE(corner(pointingIn, 79, 79));
    EXPECT_FALSE(corner(pointingIn, 11, 11) || corner(pointingIn, 79, 11) || corner(pointingIn, 11, 79));
    EXPECT_TRUE(corner(leaf, 11, 11) && corner(leaf, 79, 79));
    EXPECT_FALSE(corner(leaf, 79, 11) || corner(leaf, 11, 79));
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
