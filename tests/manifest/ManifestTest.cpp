#include "core/WorkingFolder.h"
#include "manifest/PlistManager.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <plist/plist.h>

#include <map>
#include <string>

namespace {

// Reads a plist back with libplist, an independent reader, into "path" → value pairs so the
// whole tree can be compared at once; containers record their size.
void flatten(plist_t node, const std::string& path, std::map<std::string, std::string>& out) {
    switch (plist_get_node_type(node)) {
    case PLIST_DICT: {
        out[path] = "dict:" + std::to_string(plist_dict_get_size(node));
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        char* key = nullptr;
        plist_t value = nullptr;
        for (plist_dict_next_item(node, it, &key, &value); value;
             plist_dict_next_item(node, it, &key, &value)) {
            flatten(value, path + "/" + key, out);
            free(key);
            key = nullptr;
        }
        free(it);
        break;
    }
    case PLIST_ARRAY:
        out[path] = "array:" + std::to_string(plist_array_get_size(node));
        for (uint32_t i = 0; i < plist_array_get_size(node); ++i)
            flatten(plist_array_get_item(node, i), path + "/" + std::to_string(i), out);
        break;
    case PLIST_STRING: {
        char* s = nullptr;
        plist_get_string_val(node, &s);
        out[path] = s ? s : "";
        free(s);
        break;
    }
    default:
        out[path] = "<other>";
    }
}

std::map<std::string, std::string> readBack(const QString& path) {
    const QByteArray xml = testsupport::readFile(path);
    plist_t root = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &root);
    std::map<std::string, std::string> out;
    if (root) {
        flatten(root, "", out);
        plist_free(root);
    }
    return out;
}

} // namespace

TEST(Manifest, HasExactlyTheNineKeysWithValuesUnchanged) {
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
        const QString title = QString::fromUtf8(c.title);
        const std::optional<QString> path = PlistManager::writeManifest(
            QString::fromUtf8(c.url), title, QStringLiteral("1.2 (3)"), QStringLiteral("x.y.z"));
        ASSERT_TRUE(path) << c.title;
        EXPECT_EQ(*path, workingFolder() + QStringLiteral("/manifest.plist"));
        const std::map<std::string, std::string> expected = {
            {"", "dict:1"},
            {"/items", "array:1"},
            {"/items/0", "dict:2"},
            {"/items/0/assets", "array:1"},
            {"/items/0/assets/0", "dict:2"},
            {"/items/0/assets/0/kind", "software-package"},
            {"/items/0/assets/0/url", c.url},
            {"/items/0/metadata", "dict:4"},
            {"/items/0/metadata/title", c.title},
            {"/items/0/metadata/bundle-version", "1.2 (3)"},
            {"/items/0/metadata/kind", "software"},
            {"/items/0/metadata/bundle-identifier", "x.y.z"},
        };
        EXPECT_EQ(readBack(*path), expected) << c.title;
    }
}

TEST(Manifest, ReplacesTheEarlierFileAndLeavesNoTemporaries) {
    QDir().mkpath(workingFolder());
    ASSERT_TRUE(PlistManager::writeManifest(QStringLiteral("u1"), QStringLiteral("First"),
                                            QStringLiteral("1"), QStringLiteral("a.b")));
    const std::optional<QString> path = PlistManager::writeManifest(
        QStringLiteral("u2"), QStringLiteral("Second"), QStringLiteral("2"), QStringLiteral("a.b"));
    ASSERT_TRUE(path);
    EXPECT_EQ(readBack(*path).at("/items/0/metadata/title"), "Second");
    EXPECT_EQ(QDir(workingFolder()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("manifest.plist")});
}

TEST(Manifest, FailsWithoutAWritableFolder) {
    QDir(workingFolder()).removeRecursively();
    EXPECT_FALSE(PlistManager::writeManifest(QStringLiteral("u"), QStringLiteral("t"), QStringLiteral("1"),
                                             QStringLiteral("b")));
    // A file where the folder should be (root ignores permission bits, this it cannot ignore).
    const QString blocker = testsupport::writeFile(testsupport::makeTempDir() + QStringLiteral("/file"), "x");
    EXPECT_FALSE(PlistManager::writeManifestTo(blocker + QStringLiteral("/manifest.plist"),
                                               QStringLiteral("u"), QStringLiteral("t"), QStringLiteral("1"),
                                               QStringLiteral("b")));
}
