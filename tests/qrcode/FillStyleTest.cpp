#include "qrcode/QRCodeFillStyle.h"

#include <QJsonDocument>

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
}
