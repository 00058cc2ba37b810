#include "qrcode/QRCodeFillStyle.h"

#include <QImage>
#include <QJsonDocument>
#include <QPainter>

#include <gtest/gtest.h>

TEST(QRCodeFills, ComponentTextForms) {
    const RGBAComponents orange{1, 0.5, 0, 1};
    EXPECT_EQ(orange.stringValue(), "1.0,0.5,0.0,1.0");
    EXPECT_EQ(orange.hexString(), "#ff7f00ff");
    EXPECT_EQ(RGBAComponents::fromColor(QColor::fromRgbF(0.2f, 0.4f, 0.6f, 1))->stringValue(),
              "0.2,0.4,0.6,1.0");
    EXPECT_EQ((RGBAComponents{1, std::nan(""), 0, 1}).hexString(), std::nullopt);
    EXPECT_FALSE(RGBAComponents::fromColor(QColor()));
    EXPECT_EQ(QRCodeFillStyleSolid(QColor()).settings().value("color").toString(), "1.0,0.0,0.0,0.5");

    const std::pair<const char*, std::optional<QColor>> cases[] = {
        {"0.2,0.4,x,0.6,1", QColor::fromRgbF(0.2f, 0.4f, 0.6f, 1)},
        {"0.2, 0.4,0.6,1", std::nullopt},
        {"2,0,0,1", QColor::fromRgbF(1, 0, 0, 1)},
        {"1,0,0", std::nullopt},
        {"0,0,0,1,1", std::nullopt},
        {"0.5,0.5,0.5,0.5 ", std::nullopt},
    };
    for (const auto& [text, want] : cases)
        EXPECT_EQ(colorFromRGBAString(QLatin1String(text)), want) << text;
}

TEST(QRCodeFills, GradientTextForm) {
    EXPECT_EQ(
        (QList<double>{LumGradientPin(Qt::black, 1.5).position(), LumGradientPin(Qt::black, -0.2).position(),
                       LumGradientPin(Qt::black, std::nan("")).position()}),
        (QList<double>{1, 0, 0}));

    const LumGradient bw({LumGradientPin(Qt::white, 1), LumGradientPin(Qt::black, 0)});
    EXPECT_EQ(bw.pins().constFirst().position(), 0.0);
    EXPECT_EQ(bw.asRGBAGradientString(), "0.0:0,0,0,1|1.0:1,1,1,1");
    EXPECT_EQ(LumGradient().asRGBAGradientString(), QString());
    EXPECT_FALSE(LumGradient::FromRGBAGradientString(QString()));
    // Mid grey is written in linear RGB with four digits at most; 1/3 alpha shows the rounding.
    EXPECT_EQ(LumGradient({LumGradientPin(QColor::fromRgbF(0.5f, 0.5f, 0.5f, 1.0f / 3), 0.25)})
                  .asRGBAGradientString(),
              "0.25:0.214,0.214,0.214,0.3333");
    for (const char* bad : {"0.0:0,0,0", "0.0:0,0,0,1|", "x:0,0,0,1", "0.0:0,0,0,1:2", "0.0;0,0,0,1"})
        EXPECT_FALSE(LumGradient::FromRGBAGradientString(QLatin1String(bad))) << bad;
    // Read back and written again, a mid grey keeps its text and its value (saving never drifts).
    const LumGradient grey(
        {LumGradientPin(QColor::fromRgbF(0.5f, 0.5f, 0.5f, 1), 0), LumGradientPin(QColor(30, 120, 200), 1)});
    const auto back = LumGradient::FromRGBAGradientString(grey.asRGBAGradientString().value_or(""));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->asRGBAGradientString(), grey.asRGBAGradientString());
    EXPECT_NEAR(back->pins()[0].color().redF(), 0.5, 0.5 / 255);
    EXPECT_EQ(back->pins()[1].color().rgb(), QColor(30, 120, 200).rgb());
}

TEST(QRCodeFills, FactoryAndSettings) {
    const auto& factory = QRCodeFillStyleFactory::shared();
    const QString gradient = QStringLiteral("0.0:0,0,0,1|1.0:1,1,1,1");
    const QVariantMap linear{
        {"startX", 0}, {"startY", 0}, {"endX", 1.0}, {"endY", 1}, {"gradient", gradient}};
    const auto style = factory.CreateWithSettings({{"type", "lineargradient"}, {"settings", linear}});
    ASSERT_TRUE(style);
    const auto& lg = static_cast<const QRCodeFillStyleLinearGradient&>(*style);
    EXPECT_TRUE(lg.startPoint() == QPointF(0, 0) && lg.endPoint() == QPointF(1, 1));
    EXPECT_EQ(style->settings(), linear);

    QVariantMap missingEnd = linear;
    missingEnd.remove("endY");
    QVariantMap textNumber = linear;
    textNumber.insert("startX", "0");
    const QVariantMap rejected[] = {
        {{"type", "lineargradient"}, {"settings", missingEnd}},
        {{"type", "lineargradient"}, {"settings", textNumber}},
        {{"type", "radialgradient"},
         {"settings", QVariantMap{{"centerX", 0.5}, {"centerY", 0.5}, {"gradient", ""}}}},
        {{"type", "solid"}, {"settings", QVariantMap{{"color", "0,0,0"}}}},
        {{"type", "solid"}},
        {{"type", "conic"}, {"settings", linear}},
    };
    for (const auto& r : rejected)
        EXPECT_FALSE(factory.CreateWithSettings(r)) << QJsonDocument::fromVariant(r).toJson().constData();
    const auto radial = factory.CreateWithSettings(
        {{"type", "radialgradient"},
         {"settings", QVariantMap{{"centerX", 0.25}, {"centerY", 0.75}, {"gradient", gradient}}}});
    ASSERT_TRUE(radial);
    EXPECT_EQ(static_cast<const QRCodeFillStyleRadialGradient&>(*radial).centerPoint(), QPointF(0.25, 0.75));
    EXPECT_EQ(static_cast<const QRCodeFillStyleSolid&>(*QRCodeFillStyle::clear()).color().alpha(), 0);
}

TEST(QRCodeFills, PaintingExtendsGradientsAndClipsToPaths) {
    QImage image(100, 100, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const LumGradient redToBlue({LumGradientPin(Qt::red, 0), LumGradientPin(Qt::blue, 1)});
    {
        QPainter painter(&image);
        // Unit points scale with the rectangle's width: start at x = 40, end at x = 60.
        QRCodeFillStyleLinearGradient(redToBlue, {0.4, 0}, {0.6, 0}).fill(painter, QRectF(0, 0, 100, 100));
    }
    EXPECT_EQ(image.pixelColor(5, 50), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(95, 50), QColor(Qt::blue));
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        QPainterPath path;
        path.addRect(10, 10, 20, 20);
        QRCodeFillStyleRadialGradient(redToBlue, {0.2, 0.2}).fill(painter, QRectF(0, 0, 100, 100), path);
    }
    EXPECT_GT(image.pixelColor(20, 20).red(), 240); // the centre is the first colour
    EXPECT_LT(image.pixelColor(20, 20).blue(), 15);
    EXPECT_EQ(image.pixelColor(50, 50).alpha(), 0); // outside the path
    EXPECT_GT(image.pixelColor(29, 29).blue(), 0);
}
