#include "plist/PlistGuard.h"
#include "inspect/PackageFactory.h"
#include "plist/PlistReader.h"

#include <gtest/gtest.h>

using packages::bplist;
using PlistGuard::Verdict;

TEST(PlistGuard, RefusesWhatWouldHurtTheParserAndPassesRealLists) {
    const auto deepXml = [](int depth) {
        return "<plist>" + QByteArray("<array>").repeated(depth) + QByteArray("</array>").repeated(depth) +
               "</plist>";
    };
    const QVariantMap info{
        {"CFBundleIdentifier", "a.b"},
        {"CFBundleIcons", QVariantMap{{"CFBundlePrimaryIcon", QVariantList{"x", 1, true}}}}};
    QByteArray pastEnd = bplist({"\xA1\x01", "\x09"});
    pastEnd[pastEnd.size() - 32 - 1] = char(0x7f); // the second object's offset

    // Object 0 is the root unless said otherwise; "\xA2\x01\x01" is an array of object 1 twice.
    QList<QByteArray> doubling;
    for (int i = 0; i < 40; ++i)
        doubling.append(QByteArray("\xA2") + char(i + 1) + char(i + 1));
    doubling.append("\x08");

    const struct {
        const char* name;
        QByteArray bytes;
        Verdict verdict;
    } cases[] = {
        {"binary Info.plist", packages::binaryPlist(info), Verdict::Accepted},
        {"XML Info.plist", packages::xmlPlist(info), Verdict::Accepted},
        {"64 deep", packages::deepBinaryPlist(64), Verdict::Accepted},
        {"65 deep", packages::deepBinaryPlist(65), Verdict::TooComplex},
        {"100,000 deep", packages::deepBinaryPlist(100000), Verdict::TooComplex},
        {"XML 66 elements deep", deepXml(64), Verdict::Accepted},
        {"XML 100,000 deep", deepXml(100000), Verdict::TooComplex},
        {"XML \"/>\" inside an attribute",
         deepXml(0).replace("<plist>", "<plist>" + QByteArray("<array a=\"/>\">").repeated(70)),
         Verdict::TooComplex},
        {"XML comment", "<plist><!-- <array> --><dict/></plist>", Verdict::Accepted},
        {"array holding itself", bplist({QByteArray("\xA1\x00", 2)}), Verdict::TooComplex},
        {"shared references doubling 40 times", bplist(doubling), Verdict::TooComplex},
        {"dictionary with a shared value", bplist({"\xD1\x01\x02", "\x51k", "\x09", "\x09"}),
         Verdict::Accepted},
        {"reference past the objects", bplist({"\xA1\x05", "\x09"}), Verdict::Damaged},
        {"offset past the objects", pastEnd, Verdict::Damaged},
        {"string longer than the data", bplist({"\x5F\x10\x40"}), Verdict::Damaged},
        {"top object past the table", bplist({"\x09"}, 3), Verdict::Damaged},
        {"cut off", packages::binaryPlist(info).chopped(1), Verdict::Damaged},
        {"header only", "bplist00", Verdict::Damaged},
        {"unknown marker", bplist({"\xE0"}), Verdict::Damaged},
        // Found by fuzzing: libplist asserts (and aborts) on a text with a NUL inside.
        {"NUL in a key", bplist({"\xD1\x01\x02", QByteArray("\x53k\0k", 4), "\x09"}), Verdict::Damaged},
        {"NUL in a UTF-16 value", bplist({"\xD1\x01\x02", "\x51k", QByteArray("\x62\0a\0\0", 5)}),
         Verdict::Damaged},
        {"XML &#0; in a key", "<plist><dict><key>a&#x00;</key><true/></dict></plist>", Verdict::Damaged},
        {"XML &#10; in a string", "<plist><dict><key>a</key><string>&#10;</string></dict></plist>",
         Verdict::Accepted},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PlistGuard::check(c.bytes), c.verdict) << c.name;

    // The reader tells a refused list from one that is merely no dictionary.
    EXPECT_EQ(PlistReader::fromBytes(bplist({QByteArray("\xA1\x00", 2)})).problem,
              PlistReader::Problem::Refused);
    EXPECT_EQ(PlistReader::fromBytes(bplist({"\x09"})).problem, PlistReader::Problem::NotDictionary);
    EXPECT_EQ(PlistReader::fromBytes(bplist({"\xD1\x01\x02", QByteArray("\x53k\0k", 4), "\x09"})).problem,
              PlistReader::Problem::Refused);
    EXPECT_EQ(PlistReader::fromBytes(packages::binaryPlist(info)).dictionary,
              PlistReader::fromBytes(packages::xmlPlist(info)).dictionary);
}
