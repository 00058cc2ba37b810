#include "core/WorkingFolder.h"
#include "manifest/PlistManager.h"
#include "plist/PlistReader.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>

namespace {
std::optional<QString> write(const char* url, const char* title) {
    return PlistManager::writeManifest(QString::fromUtf8(url), QString::fromUtf8(title),
                                       QStringLiteral("1.2 (3)"), QStringLiteral("x.y.z"));
}
} // namespace

// Read back by libplist (through the package reader), not by the writer's own code.
TEST(Manifest, HasExactlyTheNineKeysWithValuesUnchangedOrFailsWithoutAWritableFolder) {
    const struct {
        const char* title;
        const char* url;
    } cases[] = {
        {"My App", "https://dl.example/App.ipa"},
        {"Tom & Jerry <beta> \"quoted\" 'single'", "https://dl.example/a.ipa?x=1&y=<2>"},
        {"Café Ünïcode 现代 عربي 🚀", "https://dl.example/Caf%C3%A9.ipa"},
        {"  spaced  ", "https://dl.example/s.ipa"},
    };
    QDir().mkpath(workingFolder());
    for (const auto& c : cases) {
        const std::optional<QString> path = write(c.url, c.title);
        ASSERT_EQ(path, workingFolder() + "/manifest.plist") << c.title;
        const QVariantMap asset{{"kind", "software-package"}, {"url", QString::fromUtf8(c.url)}};
        const QVariantMap metadata{{"title", QString::fromUtf8(c.title)},
                                   {"bundle-version", "1.2 (3)"},
                                   {"kind", "software"},
                                   {"bundle-identifier", "x.y.z"}};
        const QVariantMap item{{"assets", QVariantList{asset}}, {"metadata", metadata}};
        EXPECT_EQ(PlistReader::readDictionary(*path), (QVariantMap{{"items", QVariantList{item}}}))
            << c.title;
    }
    // The earlier file is replaced and no temporary file is left beside it.
    EXPECT_EQ(QDir(workingFolder()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("manifest.plist")});

    // Without a writable folder it fails.
    QDir(workingFolder()).removeRecursively();
    EXPECT_FALSE(write("u", "t"));
    // A file where the folder should be (root ignores permission bits, this it cannot ignore).
    const QString blocker = testsupport::writeFile(testsupport::makeTempDir() + "/file", "x");
    EXPECT_FALSE(PlistManager::writeManifestTo(blocker + "/manifest.plist", "u", "t", "1", "b"));
}
