#include "qrcode/QRCodeDocument.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {
QString solidColor(const QRCodeFillStylePtr& fill) {
    return fill ? fill->settings().value("color").toString() : QString();
}
} // namespace

TEST(QRCodeDocuments, JsonRoundTripKeepsMatrixAndDesign) {
    QRCodeDocument doc = QRCodeDocument::forLink("https://vantry.app/i/42");
    doc.setErrorCorrection(ErrorCorrection::high);
    doc.design().shape.offPixels = std::make_shared<QRCodePixelShapeHorizontal>(0.5, 0.75);
    doc.design().style.eye = std::make_shared<QRCodeFillStyleSolid>(QColor(10, 20, 30));
    doc.design().style.pupil = std::make_shared<QRCodeFillStyleRadialGradient>(
        LumGradient({LumGradientPin(Qt::red, 0), LumGradientPin(Qt::darkGreen, 1)}), QPointF(0.3, 0.6));
    doc.design().style.offPixels = std::make_shared<QRCodeFillStyleSolid>(Qt::yellow);

    const auto loaded = QRCodeDocument::CreateWithJsonData(doc.jsonData());
    ASSERT_TRUE(std::holds_alternative<QRCodeDocument>(loaded));
    const auto& back = std::get<QRCodeDocument>(loaded);
    EXPECT_TRUE(back.data() == doc.data() && back.errorCorrection() == ErrorCorrection::high);
    EXPECT_EQ(back.boolMatrix(), doc.boolMatrix());
    EXPECT_EQ(back.design().settings(), doc.design().settings());
    EXPECT_EQ(back.jsonData(), doc.jsonData());
    const QRCodeDesign copy = doc.design().copy();
    EXPECT_NE(copy.style.pupil.get(), doc.design().style.pupil.get());
    EXPECT_EQ(copy.settings(), doc.design().settings());

    const QJsonObject shape = QJsonDocument::fromJson(doc.jsonData())["design"]["shape"].toObject();
    EXPECT_EQ(shape["onPixels"].toObject(),
              QJsonObject({{"type", "squircle"}, {"settings", QJsonObject{{"inset", 0}}}}));
    EXPECT_EQ(shape["eye"].toObject(), QJsonObject({{"type", "squircle"}, {"settings", QJsonObject{}}}));
    const QString pretty = doc.jsonStringFormatted();
    EXPECT_TRUE(pretty.contains(QRegularExpression("^{\n *\"correction\".*\n *\"data\".*\n *\"design\"")));
}

TEST(QRCodeDocuments, LoadingFallbacks) {
    const QString base64 = QString::fromLatin1(QByteArray("hello").toBase64());
    using E = ErrorCorrection;
    const std::tuple<QVariant, QVariant, QByteArray, ErrorCorrection> cases[] = {
        // data, correction, result
        {base64, "high", "hello", E::high}, {base64, "m", "hello", E::medium},
        {base64, 0, "hello", E::quantize},  {base64, "x", "hello", E::quantize},
        {base64, "", "hello", E::quantize}, {"not base64!", "L", "", E::low},
        {"aGVsbG8", {}, "", E::quantize},   {12, {}, "", E::quantize}, // unpadded; not a string
    };
    for (const auto& [data, correction, bytes, level] : cases) {
        SCOPED_TRACE(data.toString().toStdString() + " " + correction.toString().toStdString());
        QRCodeDocument doc = QRCodeDocument::forLink("https://x.y");
        QVariantMap settings{{"data", data}};
        if (correction.isValid())
            settings.insert("correction", correction);
        doc.loadWithSettings(settings);
        EXPECT_TRUE(doc.data() == bytes && doc.errorCorrection() == level);
        EXPECT_EQ(doc.boolMatrix(), QRCodeDocument(bytes, level).boolMatrix());
        EXPECT_EQ(doc.design().shape.onPixels->name(), "squircle") << "no design key";
    }
}

TEST(QRCodeDocuments, DesignFallbacksAndErrors) {
    const QVariantMap shape{
        {"data", QVariantMap{{"type", "circle"}, {"settings", QVariantMap{{"inset", 1}}}}},
        {"onPixels", QVariantMap{{"type", "pointy"}}},
        {"dataInverted", QVariantMap{{"type", "nope"}}},
        {"offPixels", QVariantMap{{"type", "square"}}},
        {"eye", QVariantMap{{"type", 7}}},
    };
    const QVariantMap style{
        {"onPixels", QVariantMap{{"type", "solid"}, {"settings", QVariantMap{{"color", "0,0,1,1"}}}}},
        {"eye", QVariantMap{{"type", "solid"}, {"settings", QVariantMap{{"color", "bad"}}}}}};
    const QRCodeDesign design = QRCodeDesign::CreateWithSettings({{"shape", shape}, {"style", style}});
    ASSERT_TRUE(design.shape.offPixels);
    EXPECT_EQ(
        (QStringList{design.shape.onPixels->name(), design.shape.offPixels->name(), design.shape.eye->name(),
                     solidColor(design.style.onPixels), solidColor(design.style.background)}),
        (QStringList{"circle", "square", "square", "0.0,0.0,1.0,1.0", "1.0,1.0,1.0,1.0"}));
    EXPECT_FALSE(design.style.eye);

    QRCodeDesign noBackground;
    noBackground.style.background = nullptr;
    const QVariantMap written = noBackground.settings();
    EXPECT_FALSE(written["style"].toMap().contains("background"));
    EXPECT_EQ(solidColor(QRCodeDesign::CreateWithSettings(written).style.background), "1.0,1.0,1.0,1.0");

    QRCodeDocument doc(QByteArray("keep"), ErrorCorrection::low);
    for (const char* bad : {"[1,2]", "{nope", "\"text\""}) {
        const auto result = QRCodeDocument::CreateWithJsonData(QByteArray(bad));
        ASSERT_TRUE(std::holds_alternative<QRCodeDocumentError>(result)) << bad;
        EXPECT_EQ(std::get<QRCodeDocumentError>(result).localizedDescription, "Unable to decode object");
        EXPECT_TRUE(doc.loadWithJsonData(QByteArray(bad)));
        EXPECT_TRUE(doc.data() == "keep" && doc.errorCorrection() == ErrorCorrection::low);
    }
}

// A document over capacity says so, and the link document holds no code rather than another one.
TEST(QRCodeDocuments, OverlongDataNeverYieldsAnotherCode) {
    QRCodeDocument doc = QRCodeDocument::withUtf8String("short");
    const auto before = doc.qrcode().sharedMatrix();
    doc.setUtf8String(QString(3000, u'A'));
    EXPECT_EQ(doc.tooMuchData().value_or(QRCodeTooMuchData{}).capacity, 1663);
    EXPECT_EQ(doc.qrcode().sharedMatrix(), before);
    doc.setErrorCorrection(ErrorCorrection::low);
    EXPECT_EQ(doc.tooMuchData()->capacity, 2953);
    doc.setUtf8String("short again");
    EXPECT_FALSE(doc.tooMuchData());

    const QString longLink = "https://v.example/" + QString(2000, u'a');
    const QRCodeDocument link = QRCodeDocument::forLink(longLink);
    EXPECT_TRUE(link.tooMuchData() && link.pixelSize() == 0);
    EXPECT_TRUE(link.path(QSizeF(100, 100), QRCodeComponents::all()).isEmpty());
    EXPECT_FALSE(QRCodeDocument::linkPngData(longLink));
    EXPECT_TRUE(QRCodeDocument::linkPngData("https://v.example/abc"));
}

// However the data arrives, more than any code holds (in any mode) never reaches the engine: on
// megabytes the encoder spends seconds and gigabytes before giving up.
TEST(QRCodeDocuments, OverlongDataNeverReachesTheEngine) {
    struct Recorder : QRCodeEngine {
        mutable qsizetype largest = 0;
        std::optional<QRCodeBoolMatrix> generate(const QByteArray& data, ErrorCorrection) const override {
            largest = std::max(largest, data.size());
            return std::nullopt;
        }
    };
    const auto engine = std::make_shared<Recorder>();
    const QByteArray big(8 << 20, '7');
    const QByteArray json =
        QJsonDocument(QJsonObject{{"correction", "L"}, {"data", QString::fromLatin1(big.toBase64())}})
            .toJson(QJsonDocument::Compact);
    const auto loaded = QRCodeDocument::CreateWithJsonData(json, engine);
    ASSERT_TRUE(std::holds_alternative<QRCodeDocument>(loaded));
    const std::optional<QRCodeTooMuchData> reports[] = {
        std::get<QRCodeDocument>(loaded).tooMuchData(),
        QRCodeDocument::withUtf8String(QString::fromLatin1(big), ErrorCorrection::high, engine).tooMuchData(),
        QRCode(engine).update(big, ErrorCorrection::medium),
    };
    for (const auto& report : reports) {
        ASSERT_TRUE(report);
        EXPECT_EQ(report->bytes, big.size());
    }
    EXPECT_EQ(engine->largest, 0);
    // The longest digits-only message at level L still goes to the engine.
    QRCode(engine).update(QByteArray(QRCode::maxCharacters, '7'), ErrorCorrection::low);
    EXPECT_EQ(engine->largest, QRCode::maxCharacters);
}
