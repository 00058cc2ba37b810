#include "QrTestUtil.h"

#include "qrcode/QRCodePixelShape.h"

#include <gtest/gtest.h>

namespace {

constexpr int kDim = 25;
constexpr int kModule = 12; // pixels per module in the test images

// A matrix with known modules: dark eye regions (to prove they are skipped), a dark module on the
// quiet-zone ring, a horizontal run of 4 and a lone module in row 12, a vertical run in column 20.
QRCodeBoolMatrix testMatrix() {
    QRCodeBoolMatrix m(kDim);
    for (int r = 0; r < 9; ++r)
        for (int c = 0; c < 9; ++c) {
            m.setValue(r, c, true);
            m.setValue(r, kDim - 1 - c, true);
            m.setValue(kDim - 1 - r, c, true);
        }
    for (int c : {9, 10, 11, 12, 14})
        m.setValue(12, c, true);
    for (int r = 14; r <= 17; ++r)
        m.setValue(r, 20, true);
    m.setValue(0, 15, true);
    m.setValue(kDim - 1, 15, false);
    return m;
}

int countFigures(const QPainterPath& path) {
    int n = 0;
    for (int i = 0; i < path.elementCount(); ++i)
        n += path.elementAt(i).isMoveTo() ? 1 : 0;
    return n;
}

QImage fillAt(const QPainterPath& path) {
    return qrtest::fill(path, kDim * kModule, kDim * kModule);
}
bool darkCentre(const QImage& image, int r, int c) {
    return qrtest::dark(image, (c + 0.5) * kModule, (r + 0.5) * kModule);
}
bool inEye(int r, int c) {
    return (r < 9 && c < 9) || (r < 9 && c >= kDim - 9) || (r >= kDim - 9 && c < 9);
}

} // namespace

TEST(QRCodePixelShapes, EveryShapePaintsModuleCentresWhereItShould) {
    const QRCodeBoolMatrix m = testMatrix();
    const QRCode code = qrtest::codeFor(m);
    const QSizeF size(kDim * kModule, kDim * kModule);
    for (const auto& type : QRCodePixelShapeFactory::shared().registeredTypes()) {
        const auto shape = type.create({});
        const QString name = shape->name();
        const QImage on = fillAt(shape->onPath(size, code, false));
        const QImage off = fillAt(shape->offPath(size, code, false));
        const QImage onTemplate = fillAt(shape->onPath(size, code, true));
        for (int r = 0; r < kDim; ++r) {
            for (int c = 0; c < kDim; ++c) {
                const bool eye = inEye(r, c);
                ASSERT_EQ(darkCentre(on, r, c), m(r, c) && !eye)
                    << name.toStdString() << " on " << r << "," << c;
                ASSERT_EQ(darkCentre(onTemplate, r, c), m(r, c))
                    << name.toStdString() << " template " << r << "," << c;
                if (name == QLatin1String("pointy"))
                    continue; // no off path at all
                const bool ring = r == 0 || c == 0 || r == kDim - 1 || c == kDim - 1;
                const bool offExpected = !m(r, c) && !eye && (name == QLatin1String("roundedPath") || !ring);
                ASSERT_EQ(darkCentre(off, r, c), offExpected)
                    << name.toStdString() << " off " << r << "," << c;
            }
        }
        EXPECT_EQ(shape->offPath(size, code, false).isEmpty(), name == QLatin1String("pointy"))
            << name.toStdString();
    }
}

TEST(QRCodePixelShapes, GeometryCentresAndInsets) {
    QRCodeBoolMatrix m(kDim);
    m.setValue(12, 12, true);
    const QRCode code = qrtest::codeFor(m);
    // 500 × 300: p = 12, the code is centred horizontally.
    const QRectF bounds = QRCodePixelShapeSquare(0).onPath(QSizeF(500, 300), code, false).boundingRect();
    EXPECT_EQ(bounds, QRectF(100 + 144, 144, 12, 12));
    EXPECT_EQ(QRCodePixelShapeCircle(2).onPath(QSizeF(300, 300), code, false).boundingRect(),
              QRectF(146, 146, 8, 8));
    // The squircle is scaled to the inset rectangle but placed at half the inset.
    const QRectF squircle = QRCodePixelShapeSquircle(2).onPath(QSizeF(300, 300), code, false).boundingRect();
    EXPECT_NEAR(squircle.left(), 145, 1e-9);
    EXPECT_NEAR(squircle.width(), 8, 1e-9);
    EXPECT_TRUE(QRCodePixelShapeSquare()
                    .onPath(QSizeF(100, 100), qrtest::codeFor(QRCodeBoolMatrix()), false)
                    .isEmpty());
}

TEST(QRCodePixelShapes, BarsMergeRunsAndClampTheirCorners) {
    QRCodeBoolMatrix m(kDim);
    for (int c : {9, 10, 11, 12, 14})
        m.setValue(12, c, true);
    const QRCode code = qrtest::codeFor(m);
    const QSizeF size(kDim * 10, kDim * 10);
    const QPainterPath bars = QRCodePixelShapeHorizontal(0, 0).onPath(size, code, false);
    ASSERT_EQ(countFigures(bars), 2);
    EXPECT_EQ(bars.toFillPolygons().at(0).boundingRect(), QRectF(90, 120, 40, 10));
    EXPECT_EQ(bars.toFillPolygons().at(1).boundingRect(), QRectF(140, 120, 10, 10));
    EXPECT_EQ(countFigures(QRCodePixelShapeVertical(0, 0).onPath(size, code, false)), 5);

    EXPECT_EQ(QRCodePixelShapeHorizontal(0, -1).cornerRadiusFraction(), 0.0);
    EXPECT_EQ(QRCodePixelShapeFactory::shared()
                  .named("vertical", QVariantMap{{"cornerRadiusFraction", 7.0}})
                  ->settings(),
              (QVariantMap{{"inset", 0.0}, {"cornerRadiusFraction", 1.0}}));
    // Fraction 1: the lone bar is a full circle, so its corners stay unpainted.
    const QImage round = qrtest::fill(QRCodePixelShapeHorizontal(0, 2.5).onPath(size, code, false), 250, 250);
    EXPECT_TRUE(qrtest::dark(round, 145, 125));
    EXPECT_FALSE(qrtest::dark(round, 140.5, 120.5));
    EXPECT_TRUE(qrtest::dark(round, 91, 125)); // rounded end of the long bar, mid-height
    EXPECT_FALSE(qrtest::dark(round, 90.5, 120.5));
}

TEST(QRCodePixelShapes, RoundedRectFractionOneIsACircle) {
    QRCodeBoolMatrix m(kDim);
    m.setValue(12, 12, true);
    const QRCode code = qrtest::codeFor(m);
    const QSizeF size(kDim * 40, kDim * 40);
    const QPainterPath rounded = QRCodePixelShapeRoundedRect(0, 1).onPath(size, code, false);
    for (double angle = 0; angle < 360; angle += 15) {
        const QPointF dir = QPointF(std::cos(angle * M_PI / 180), std::sin(angle * M_PI / 180));
        EXPECT_TRUE(rounded.contains(QPointF(500, 500) + dir * 19.5) &&
                    !rounded.contains(QPointF(500, 500) + dir * 20.5))
            << angle;
    }
    // Beyond the working range the figure never leaves its rectangle.
    const QRectF huge = QRCodePixelShapeRoundedRect(3, 5).onPath(size, code, false).boundingRect();
    EXPECT_TRUE(QRectF(12 * 40 + 3, 12 * 40 + 3, 34, 34).contains(huge));
}

TEST(QRCodePixelShapes, PointyAndRoundedPathFollowNeighbours) {
    QRCodeBoolMatrix m(kDim);
    m.setValue(12, 12, true); // isolated
    m.setValue(15, 14, true); // left neighbour of (15, 15)
    m.setValue(15, 15, true);
    const QRCode code = qrtest::codeFor(m);
    const QSizeF size(kDim * 10, kDim * 10);
    const QPainterPath pointy = QRCodePixelShapePointy().onPath(size, code, false);
    EXPECT_TRUE(pointy.contains(QPointF(120.5, 120.5))); // isolated: full square corner
    EXPECT_TRUE(pointy.contains(QPointF(159.5, 155)));   // right of (15, 15): the tip
    EXPECT_FALSE(pointy.contains(QPointF(159, 151)));    // corner cut off by the point
    EXPECT_FALSE(pointy.contains(QPointF(141, 151)));    // (15, 14) points left, away from (15, 15)
    EXPECT_TRUE(pointy.contains(QPointF(149, 151)));

    const QPainterPath rounded = QRCodePixelShapeRoundedPath().onPath(size, code, false);
    EXPECT_FALSE(rounded.contains(QPointF(120.3, 120.3))); // isolated: every corner rounded
    EXPECT_TRUE(rounded.contains(QPointF(150.2, 150.2)));  // (15, 15) joins its left neighbour
    EXPECT_FALSE(rounded.contains(QPointF(159.7, 150.3))); // and rounds its free top-right corner
    EXPECT_TRUE(rounded.contains(QPointF(149.8, 159.8)));  // (15, 14) keeps the shared corners
}

TEST(QRCodePixelShapes, FactoryNamesSettingsCopiesAndPreview) {
    const auto& factory = QRCodePixelShapeFactory::shared();
    EXPECT_EQ(factory.availableGeneratorNames().join(' '),
              "circle horizontal pointy roundedPath roundedRect square squircle vertical");
    const auto circle =
        factory.createWithSettings({{"type", "circle"}, {"settings", QVariantMap{{"inset", 1.5}}}});
    ASSERT_TRUE(circle);
    EXPECT_EQ(circle->settings(), (QVariantMap{{"inset", 1.5}}));
    EXPECT_FALSE(factory.createWithSettings({{"type", "hexagon"}}) ||
                 factory.createWithSettings({{"type", 3}}));
    EXPECT_EQ(factory.named("roundedRect", QVariantMap{{"inset", "2"}})->settings(),
              (QVariantMap{{"inset", 0.0}, {"cornerRadiusFraction", 0.0}}));
    const auto copy = circle->copyShape();
    EXPECT_NE(copy.get(), circle.get());
    EXPECT_EQ(copy->settings(), circle->settings());

    const auto image = factory.image(QRCodePixelShapeSquare(), true, 90, Qt::black, QColor(Qt::white));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), QSize(90, 90));
    // 7 × 7 sample at ~12.86 px per module: (1, 3) dark, (1, 2) light, (0, 0) background.
    EXPECT_TRUE(qrtest::dark(*image, 3.5 * 90 / 7, 1.5 * 90 / 7));
    EXPECT_FALSE(qrtest::dark(*image, 2.5 * 90 / 7, 1.5 * 90 / 7));
    EXPECT_EQ(image->pixelColor(1, 1), QColor(Qt::white));
    EXPECT_FALSE(factory.image(QRCodePixelShapeSquare(), true, std::nan(""), Qt::black, std::nullopt));
    EXPECT_EQ(factory.image(QRCodePixelShapeSquare(), true, 20, Qt::black, {})->pixelColor(0, 0).alpha(), 0);
}
