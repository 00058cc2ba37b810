#include "CliSupport.h"
#include "qrcode/QRCodeDocument.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

TEST(QrCommand, WritesPngSvgPdfAndDesignPrintsTextAndListsShapes) {
    const QString dir = testsupport::makeTempDir();
    const QString link = QStringLiteral("https://vantry.app/i/cli");
    CliRun r = cli({"qr", "--link", link, "--pixel", "pointy", "--eye", "circle", "--gradient",
                    "radial:#000000,#202080", "--correction", "h", "--size", "400", "--output",
                    dir + "/code.png", "--save-design", dir + "/design.json"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QImage png(dir + "/code.png");
    EXPECT_EQ(png.size(), QSize(400, 400));
    const auto read = QRCode::DetectQRCodeDetails(png).value(0);
    EXPECT_EQ(read.text, link);
    EXPECT_EQ(read.errorCorrection, QStringLiteral("H"));

    const auto saved = QRCodeDocument::CreateWithJsonData(testsupport::readFile(dir + "/design.json"));
    ASSERT_TRUE(std::holds_alternative<QRCodeDocument>(saved));
    const auto& doc = std::get<QRCodeDocument>(saved);
    EXPECT_EQ(doc.data(), link.toUtf8());
    EXPECT_EQ(doc.design().shape.onPixels->name(), QStringLiteral("pointy"));
    EXPECT_EQ(doc.design().style.onPixels->name(), QStringLiteral("radialgradient"));

    // A stored design is the starting point; options given next to it win.
    r = cli({"qr", "--design", dir + "/design.json", "--text", "second", "--output", dir + "/code.svg"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(testsupport::readFile(dir + "/code.svg").contains("viewBox=\"0 0 700 700\""));

    r = cli({"qr", "--mail", "a@b.c", "--subject", "Hi there", "--output", dir + "/code.pdf"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(testsupport::readFile(dir + "/code.pdf").startsWith("%PDF"));

    // Without --output the code is printed as text; the messages themselves: QRCodeMessages.
    r = cli({"qr", "--list-shapes"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.contains(QStringLiteral("roundedPath")) &&
                r.out.contains(QStringLiteral("barsVertical")));
    const QString card = testsupport::writeFile(
        dir + "/card.json",
        R"({"name": {"lastName": "Doe", "firstName": "Jo"}, "formattedName": "Jo Doe", "email": ["jo@d.nz"]})");
    r = cli({"qr", "--vcard", card, "--correction", "M"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QByteArray expected("BEGIN:VCARD\nVERSION:3.0\nN:Doe;Jo;;;\nFN:Jo Doe\nEMAIL:jo@d.nz\nEND:VCARD");
    EXPECT_EQ(r.out, QRCodeDocument(expected, ErrorCorrection::medium).smallAsciiRepresentation());
}

TEST(QrCommand, BadOptionsExitWithStatusTwoAndOneLine) {
    const QStringList bad[] = {
        {},
        {"--text", "a", "--link", "https://x.y"},
        {"--text", "a", "--pixel", "hexagon"},
        {"--text", "a", "--eye", "star"},
        {"--text", "a", "--correction", "Z"},
        {"--text", "a", "--size", "big"},
        {"--text", "a", "--foreground", "not-a-colour"},
        {"--text", "a", "--gradient", "conic:#000,#fff"},
        {"--text", "a", "--output", "code.gif"},
        {"--subject", "x", "--text", "a"},
        {"--link", "not a url"},
        {"--bogus"},
    };
    for (const auto& args : bad) {
        const CliRun r = cli(QStringList{"qr"} + args);
        EXPECT_EQ(r.status, 2) << args.join(' ').toStdString();
        EXPECT_EQ(r.err.count(u'\n'), 1) << r.err.toStdString();
    }
}

// A design a standard decoder may not read is written with a one-line warning; --strict refuses it.
// A text longer than any code exits 1 instead of printing some other code (the capacities:
// QRCodeCore.TooMuchDataIsReportedPerLevel).
TEST(QrCommand, WarnsOfUnreadableDesignsAndRefusesOverlongTexts) {
    const QString dir = testsupport::makeTempDir();
    const QString png = dir + "/bars.png";
    CliRun r = cli({"qr", "--link", "https://vantry.app/i/bars", "--eye", "barsHorizontal", "--output", png});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.startsWith("vantry-cli qr: this design may not scan on some phones: "))
        << r.err.toStdString();
    EXPECT_EQ(r.err.count(u'\n'), 1);
    EXPECT_TRUE(QFile::exists(png));

    r = cli({"qr", "--text", "bars", "--eye", "barsVertical", "--strict", "--output", dir + "/strict.png"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains("may not scan")) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(dir + "/strict.png"));

    r = cli({"qr", "--link", "https://vantry.app/i/ok", "--eye", "squircle", "--strict"});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.err, QString());

    r = cli({"qr", "--text", QString(100000, u'A'), "--output", dir + "/long.png"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, QString());
    EXPECT_EQ(r.err,
              "vantry-cli qr: too much data for a QR code: 100,000 bytes, at most 1,663 bytes at level Q\n");
    EXPECT_FALSE(QFile::exists(dir + "/long.png"));
}
