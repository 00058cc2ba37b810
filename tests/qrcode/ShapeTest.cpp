#include "QrTestUtil.h"

#include "qrcode/QRCodeDesign.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>

namespace {

// The figures drawn for this 25 × 25 matrix: dark eye regions (skipped unless drawn as a template),
// a dark module on the quiet-zone ring, a run of 4 and a lone module in row 12, a column run of 4,
// and a left/lower corner pair in rows 20–21.
QRCode testCode() {
    QRCodeBoolMatrix m(25);
    for (int r = 0; r < 9; ++r)
        for (int c = 0; c < 9; ++c)
            m.setValue(r, c, true), m.setValue(r, 24 - c, true), m.setValue(24 - r, c, true);
    for (int c : {9, 10, 11, 12, 14})
        m.setValue(12, c, true);
    for (int r = 14; r <= 17; ++r)
        m.setValue(r, 20, true);
    for (const auto& [r, c] : {std::pair(0, 15), std::pair(20, 14), std::pair(20, 15), std::pair(21, 14)})
        m.setValue(r, c, true);
    m.setValue(24, 15, false);
    return qrtest::codeFor(m);
}

// Every element of the paths, coordinates to 1/1000, hashed.
QString digest(std::initializer_list<QPainterPath> paths) {
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (const QPainterPath& path : paths) {
        for (int i = 0; i < path.elementCount(); ++i) {
            const QPainterPath::Element e = path.elementAt(i);
            hash.addData(QByteArray::number(int(e.type)) + ' ' + QByteArray::number(qRound64(e.x * 1000)) +
                         ' ' + QByteArray::number(qRound64(e.y * 1000)) + ';');
        }
        hash.addData("|");
    }
    return QString::fromLatin1(hash.result().toHex().left(12));
}

} // namespace

// The geometry of every pixel shape (on, off and template paths), of some settings, of every eye
// (ring and pupil), and the eyes placed and mirrored in a 270 × 250 box. The rows were recorded
// from figures checked point by point; a deliberate change of a figure updates its row from the
// failure's diff.
TEST(QRCodeShapes, EveryFigureKeepsItsGeometry) {
    const QRCode code = testCode();
    const QSizeF size(270, 250); // 10 px per module, centred horizontally
    QStringList got;
    const std::pair<const char*, QVariantMap> variants[] = {
        {"circle", {{"inset", 2}}},
        {"squircle", {{"inset", 2}}},
        {"roundedRect", {{"inset", 0}, {"cornerRadiusFraction", 1}}},
        {"roundedRect", {{"inset", 3}, {"cornerRadiusFraction", 5}}},
        {"horizontal", {{"inset", 1}, {"cornerRadiusFraction", 1}}},
        {"vertical", {{"inset", 0}, {"cornerRadiusFraction", 0.5}}}};
    for (const auto& type : QRCodePixelShapeFactory::shared().registeredTypes()) {
        const auto s = type.create({});
        got << type.name() + ' ' +
                   digest({s->onPath(size, code, false), s->offPath(size, code, false),
                           s->onPath(size, code, true)});
    }
    for (const auto& [name, settings] : variants)
        got << QString::fromLatin1(name) + '+' + ' ' +
                   digest(
                       {QRCodePixelShapeFactory::shared().named(name, settings)->onPath(size, code, false)});
    for (const auto& type : QRCodeEyeShapeFactory::shared().registeredTypes())
        got << "eye " + type.name() + ' ' +
                   digest({type.create({})->eyePath(), type.create({})->pupilPath()});
    QRCodeShape shape;
    shape.eye = std::make_shared<QRCodeEyeStyleRoundedOuter>();
    got << "placed " + digest({code.path(size, QRCodeComponents::everything(), shape)});
    EXPECT_EQ(got.join('\n'),
              "square d7126dfd3959\ncircle d00e55ebe431\nroundedRect d7126dfd3959\n"
              "squircle 94f99b0dd350\nvertical 7635a6e1b54c\nhorizontal f425e82925e0\n"
              "roundedPath 24ad1929466f\npointy 6f8eed5c2be1\n"
              "circle+ 6369d5975eef\nsquircle+ 3e1f04a33d7c\nroundedRect+ 395659ab14ce\n"
              "roundedRect+ e091acb457d4\nhorizontal+ 58cb3b22f183\nvertical+ d5a0a1dc1835\n"
              "eye circle 058ba292d617\neye roundedRect ee36db64a7c5\n"
              "eye roundedPointingIn b4eef9f19234\neye squircle 84bb9c99d954\n"
              "eye roundedOuter 765ab94a135b\neye square c4fe852167ba\neye leaf 8b8b441debf5\n"
              "eye barsVertical c640689ebe51\neye barsHorizontal 6adb804e82ba\n"
              "placed 0d96bc484aeb");
}

TEST(QRCodeShapes, FactoriesReadSettingsAndKeepThemInRange) {
    const auto& factory = QRCodePixelShapeFactory::shared();
    const auto circle =
        factory.createWithSettings({{"type", "circle"}, {"settings", QVariantMap{{"inset", 1.5}}}});
    ASSERT_TRUE(circle);
    EXPECT_EQ(circle->settings(), (QVariantMap{{"inset", 1.5}}));
    EXPECT_FALSE(factory.createWithSettings({{"type", "hexagon"}}) ||
                 factory.createWithSettings({{"type", 3}}) || QRCodeEyeShapeFactory::shared().named("Leaf"));
    EXPECT_EQ(factory.named("roundedRect", QVariantMap{{"inset", "2"}})->settings(),
              (QVariantMap{{"inset", 0.0}, {"cornerRadiusFraction", 0.0}}));
    // Bars keep their corner fraction within 0..1.
    EXPECT_EQ(QRCodePixelShapeHorizontal(0, -1).cornerRadiusFraction(), 0.0);
    EXPECT_EQ(factory.named("vertical", QVariantMap{{"cornerRadiusFraction", 7.0}})->settings(),
              (QVariantMap{{"inset", 0.0}, {"cornerRadiusFraction", 1.0}}));
}
