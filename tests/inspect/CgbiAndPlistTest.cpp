#include "inspect/CgbiImage.h"
#include "plist/PlistReader.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

using namespace testsupport;

namespace {
// Raw premultiplied bytes: the reference files hold the stored values with B and R swapped.
QByteArray premultipliedBytes(const QImage& image) {
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    return QByteArray(reinterpret_cast<const char*>(rgba.constBits()), rgba.sizeInBytes());
}
QByteArray storedBytes(const QImage& reference) {
    const QImage rgba = reference.convertToFormat(QImage::Format_RGBA8888);
    return QByteArray(reinterpret_cast<const char*>(rgba.constBits()), rgba.sizeInBytes());
}
} // namespace

TEST(CgbiImage, CorpusPairsGeneratedRoundTripAndDamage) {
    for (const char* name : {"icon120", "AppIcon57"}) {
        const QString base = dataPath("ipa/cgbi/" + QString(name));
        const QImage decoded = CgbiImage::load(base + ".cgbi.png");
        const QImage reference(base + ".normal.png");
        ASSERT_FALSE(decoded.isNull()) << name;
        EXPECT_TRUE(QImage(base + ".cgbi.png").isNull()) << "Qt alone decodes CgBI?";
        EXPECT_EQ(premultipliedBytes(decoded), storedBytes(reference)) << name;
    }
    EXPECT_EQ(CgbiImage::load(dataPath("ipa/cgbi/app-info-ipad_AppIcon83.5x83.5@2x~ipad.cgbi.png")).size(),
              QSize(167, 167));
    const QString standard = dataPath("ipa/cgbi/icon96.standard.png");
    EXPECT_EQ(CgbiImage::load(standard), QImage(standard));

    const QByteArray cgbi = readFile(dataPath("ipa/cgbi/AppIcon57.cgbi.png"));
    for (qsizetype cut : {qsizetype(10), qsizetype(40), cgbi.size() / 2, cgbi.size() - 30})
        EXPECT_FALSE(CgbiImage::decode(cgbi.left(cut))) << cut;
    QByteArray hugeHeader = cgbi;
    hugeHeader[32] = char(0x7f); // IHDR width far beyond any icon
    EXPECT_FALSE(CgbiImage::decode(hugeHeader));
}

TEST(PlistReader, CorpusBinaryAndXmlMatchTheirJson) {
    for (const char* name :
         {"lagunitas-Sample_Info.plist", "onionshare-ios_Info.plist", "app-info-embedded-Demo_Info.plist",
          "app-info_apple-tv-basic.plist", "app-info_apple-tv-with-url-schemes.plist"}) {
        const QString path = dataPath("ipa/plist/" + QString(name));
        const auto dict = PlistReader::readDictionary(path);
        ASSERT_TRUE(dict) << name;
        const QVariantMap json = QJsonDocument::fromJson(readFile(path + ".json")).object().toVariantMap();
        EXPECT_EQ(dict->keys(), json.keys()) << name;
        // JSON numbers are doubles; compare through JSON text.
        for (const char* key : {"CFBundleIdentifier", "CFBundleIcons", "UIDeviceFamily", "CFBundleName"})
            EXPECT_EQ(QJsonDocument::fromVariant(QVariantList{dict->value(key)}).toJson(),
                      QJsonDocument::fromVariant(QVariantList{json.value(key)}).toJson())
                << name << " " << key;
    }
}
