#include "qrcode/QRCodeDocument.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {
QString solidColor(const QRCodeFillStylePtr& fill) {
    return fill ? fill->settings().value(QStringLiteral("color")).toString() : QString();
}
} // namespace

TEST(QRCodeDocuments, Defaults) {
    const QRCodeDocument doc;
    EXPECT_EQ(doc.errorCorrection(), ErrorCorrection::quantize);
    EXPECT_TRUE(doc.data().isEmpty());
    EXPECT_EQ(doc.pixelSize(), 23);
    const QRCodeDesign& d = doc.design();
    EXPECT_EQ(d.shape.onPixels->name(), QStringLiteral("square"));
    EXPECT_FALSE(d.shape.offPixels);
    EXPECT_EQ(d.shape.eye->name(), QStringLiteral("square"));
    EXPECT_EQ(solidColor(d.style.onPixels), QStringLiteral("0.0,0.0,0.0,1.0"));
    EXPECT_EQ(solidColor(d.style.background), QStringLiteral("1.0,1.0,1.0,1.0"));
    EXPECT_FALSE(d.style.eye || d.style.pupil || d.style.offPixels);

    QRCodeDesign coloured(Qt::red, Qt::blue);
    EXPECT_EQ(solidColor(coloured.style.onPixels), QStringLiteral("1.0,0.0,0.0,1.0"));
    coloured.backgroundColor(std::nullopt);
    EXPECT_EQ(solidColor(coloured.style.background), QStringLiteral("0.0,0.0,0.0,0.0"));
    const QRCodeDesign copy = coloured.copy();
    EXPECT_NE(copy.style.onPixels.get(), coloured.style.onPixels.get());
    EXPECT_EQ(copy.settings(), coloured.settings());

    QRCodeDocument text;
    text.setData(QByteArray("\xff\xfe", 2));
    EXPECT_FALSE(text.utf8String());
    text.setUtf8String(QStringLiteral("h\u00e9"));
    EXPECT_EQ(text.data(), QByteArray("h\xc3\xa9"));
    const int before = text.pixelSize();
    text.setData(QByteArray(3000, 'x')); // too long: the previous matrix stays
    EXPECT_EQ(text.pixelSize(), before);
}

TEST(QRCodeDocuments, JsonRoundTripKeepsMatrixAndDesign) {
    QRCodeDocument doc = QRCodeDocument::forLink(QStringLiteral("https://vantry.app/i/42"));
    doc.setErrorCorrection(ErrorCorrection::high);
    doc.design().shape.offPixels = std::make_shared<QRCodePixelShapeHorizontal>(0.5, 0.75);
    doc.design().style.eye = std::make_shared<QRCodeFillStyleSolid>(QColor(10, 20, 30));
    doc.design().style.pupil = std::make_shared<QRCodeFillStyleRadialGradient>(
        LumGradient({LumGradientPin(Qt::red, 0), LumGradientPin(Qt::darkGreen, 1)}), QPointF(0.3, 0.6));
    doc.design().style.offPixels = std::make_shared<QRCodeFillStyleSolid>(Qt::yellow);

    const auto loaded = QRCodeDocument::CreateWithJsonData(doc.jsonData());
    ASSERT_TRUE(std::holds_alternative<QRCodeDocument>(loaded));
    const auto& back = std::get<QRCodeDocument>(loaded);
    EXPECT_EQ(back.data(), doc.data());
    EXPECT_EQ(back.errorCorrection(), ErrorCorrection::high);
    EXPECT_EQ(back.boolMatrix(), doc.boolMatrix());
    EXPECT_EQ(back.design().settings(), doc.design().settings());
    EXPECT_EQ(back.jsonData(), doc.jsonData());

    const QJsonObject shape = QJsonDocument::fromJson(doc.jsonData())["design"]["shape"].toObject();
    EXPECT_EQ(shape["onPixels"].toObject(),
              QJsonObject({{"type", "squircle"}, {"settings", QJsonObject{{"inset", 0}}}}));
    EXPECT_EQ(shape["eye"].toObject(), QJsonObject({{"type", "squircle"}, {"settings", QJsonObject{}}}));
    const QString pretty = doc.jsonStringFormatted();
    EXPECT_LT(pretty.indexOf(QStringLiteral("\"correction\"")), pretty.indexOf(QStringLiteral("\"data\"")));
    EXPECT_LT(pretty.indexOf(QStringLiteral("\"data\"")), pretty.indexOf(QStringLiteral("\"design\"")));
    EXPECT_TRUE(pretty.contains(u'\n'));
}

TEST(QRCodeDocuments, LoadingFallbacks) {
    const QString base64 = QString::fromLatin1(QByteArray("hello").toBase64());
    struct Case {
        const char* label;
        QVariantMap settings;
        QByteArray data;
        ErrorCorrection level;
    };
    const Case cases[] = {
        {"word high", {{"data", base64}, {"correction", "high"}}, "hello", ErrorCorrection::high},
        {"lower-case m", {{"data", base64}, {"correction", "m"}}, "hello", ErrorCorrection::medium},
        {"number", {{"data", base64}, {"correction", 0}}, "hello", ErrorCorrection::quantize},
        {"other letter", {{"data", base64}, {"correction", "x"}}, "hello", ErrorCorrection::quantize},
        {"empty letter", {{"data", base64}, {"correction", ""}}, "hello", ErrorCorrection::quantize},
        {"bad base64", {{"data", "not base64!"}, {"correction", "L"}}, "", ErrorCorrection::low},
        {"unpadded", {{"data", "aGVsbG8"}}, "", ErrorCorrection::quantize},
        {"data not a string", {{"data", 12}}, "", ErrorCorrection::quantize},
    };
    for (const auto& c : cases) {
        QRCodeDocument doc = QRCodeDocument::forLink(QStringLiteral("https://x.y"));
        doc.loadWithSettings(c.settings);
        EXPECT_EQ(doc.data(), c.data) << c.label;
        EXPECT_EQ(doc.errorCorrection(), c.level) << c.label;
        EXPECT_EQ(doc.boolMatrix(), QRCodeDocument(c.data, c.level).boolMatrix()) << c.label;
        EXPECT_EQ(doc.design().shape.onPixels->name(), QStringLiteral("squircle"))
            << c.label << ": no design key";
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
    EXPECT_EQ(design.shape.onPixels->name(), QStringLiteral("circle"));
    ASSERT_TRUE(design.shape.offPixels);
    EXPECT_EQ(design.shape.offPixels->name(), QStringLiteral("square"));
    EXPECT_EQ(design.shape.eye->name(), QStringLiteral("square"));
    EXPECT_EQ(solidColor(design.style.onPixels), QStringLiteral("0.0,0.0,1.0,1.0"));
    EXPECT_FALSE(design.style.eye);
    EXPECT_EQ(solidColor(design.style.background), QStringLiteral("1.0,1.0,1.0,1.0"));

    QRCodeDesign noBackground;
    noBackground.style.background = nullptr;
    const QVariantMap written = noBackground.settings();
    EXPECT_FALSE(written["style"].toMap().contains("background"));
    EXPECT_EQ(solidColor(QRCodeDesign::CreateWithSettings(written).style.background),
              QStringLiteral("1.0,1.0,1.0,1.0"));

    QRCodeDocument doc(QByteArray("keep"), ErrorCorrection::low);
    for (const char* bad : {"[1,2]", "{nope", "\"text\""}) {
        const auto result = QRCodeDocument::CreateWithJsonData(QByteArray(bad));
        ASSERT_TRUE(std::holds_alternative<QRCodeDocumentError>(result)) << bad;
        const auto& error = std::get<QRCodeDocumentError>(result);
        EXPECT_EQ(error.domain, QStringLiteral("QRCodeDocument"));
        EXPECT_EQ(error.code, -1);
        EXPECT_EQ(error.localizedDescription, QStringLiteral("Unable to decode object"));
        EXPECT_TRUE(doc.loadWithJsonData(QByteArray(bad)));
        EXPECT_EQ(doc.data(), QByteArray("keep"));
        EXPECT_EQ(doc.errorCorrection(), ErrorCorrection::low);
    }
}

// A document over capacity says so, and the link document holds no code rather than another one.
TEST(QRCodeDocuments, OverlongDataNeverYieldsAnotherCode) {
    QRCodeDocument doc = QRCodeDocument::withUtf8String(QStringLiteral("short"));
    const auto before = doc.qrcode().sharedMatrix();
    doc.setUtf8String(QString(3000, u'A'));
    ASSERT_TRUE(doc.tooMuchData());
    EXPECT_EQ(doc.tooMuchData()->capacity, 1663);
    EXPECT_EQ(doc.qrcode().sharedMatrix(), before);
    doc.setErrorCorrection(ErrorCorrection::low);
    EXPECT_EQ(doc.tooMuchData()->capacity, 2953);
    doc.setUtf8String(QStringLiteral("short again"));
    EXPECT_FALSE(doc.tooMuchData());

    const QString longLink = QStringLiteral("https://v.example/") + QString(2000, u'a');
    const QRCodeDocument link = QRCodeDocument::forLink(longLink);
    EXPECT_TRUE(link.tooMuchData());
    EXPECT_EQ(link.pixelSize(), 0);
    EXPECT_TRUE(link.path(QSizeF(100, 100), QRCodeComponents::all()).isEmpty());
    EXPECT_FALSE(QRCodeDocument::linkPngData(longLink));
    EXPECT_TRUE(QRCodeDocument::linkPngData(QStringLiteral("https://v.example/abc")));
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
