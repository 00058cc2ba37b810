#include "storage/dropbox/DropBoxWire.h"

#include <gtest/gtest.h>

namespace {
TEST(DropBoxWire, ApiArgHeaderIsAsciiWithUnicodeEscapes) {
    EXPECT_EQ(DropBoxWire::headerSafeJson({{QStringLiteral("path"), QStringLiteral("/Ünï.ipa")}}),
              QByteArray(R"({"path":"/\u00dcn\u00ef.ipa"})"));
    EXPECT_EQ(DropBoxWire::headerSafeJson({{QStringLiteral("p"), QStringLiteral("\U0001F680\x7f")}}),
              QByteArray(R"({"p":"\ud83d\ude80\u007f"})"));
    const QByteArray commit =
        DropBoxWire::headerSafeJson(DropBoxWire::commitInfo(QStringLiteral("/Vantry/Job/App.ipa")));
    EXPECT_EQ(
        commit,
        QByteArray(
            R"({"autorename":true,"mode":"overwrite","mute":false,"path":"/Vantry/Job/App.ipa","strict_conflict":false})"));
}

struct LinkCase {
    const char* shared;
    const char* direct;
};

class DirectLink : public ::testing::TestWithParam<LinkCase> {};

TEST_P(DirectLink, RewritesOnlyShareHostLinksAndKeepsRlkey) {
    EXPECT_EQ(DropBoxWire::directLink(QString::fromUtf8(GetParam().shared), QStringLiteral("www.dropbox.com"),
                                      QStringLiteral("dl.dropboxusercontent.com")),
              QString::fromUtf8(GetParam().direct));
}

INSTANTIATE_TEST_SUITE_P(
    Forms, DirectLink,
    ::testing::Values(LinkCase{"https://www.dropbox.com/scl/fi/k2x7q9/App.ipa?rlkey=a1b2c3d4&dl=0",
                               "https://dl.dropboxusercontent.com/scl/fi/k2x7q9/App.ipa?rlkey=a1b2c3d4"},
                      LinkCase{"https://www.dropbox.com/s/abc123/App.ipa?dl=0",
                               "https://dl.dropboxusercontent.com/s/abc123/App.ipa"},
                      LinkCase{"https://www.dropbox.com/s/abc123/App.ipa",
                               "https://dl.dropboxusercontent.com/s/abc123/App.ipa"},
                      LinkCase{"https://www.dropbox.com/scl/fi/t/My%20App.ipa?dl=0&rlkey=k&st=x1",
                               "https://dl.dropboxusercontent.com/scl/fi/t/My%20App.ipa?rlkey=k&st=x1"},
                      LinkCase{"https://example.com/s/abc/App.ipa?dl=0",
                               "https://example.com/s/abc/App.ipa?dl=0"}));

TEST(DropBoxWire, ShareHostMayCarryAPort) {
    EXPECT_EQ(DropBoxWire::directLink(QStringLiteral("http://localhost:4100/scl/fi/t/a.ipa?rlkey=k&dl=0"),
                                      QStringLiteral("localhost:4100"), QStringLiteral("127.0.0.1:4100")),
              QStringLiteral("http://127.0.0.1:4100/scl/fi/t/a.ipa?rlkey=k"));
    EXPECT_EQ(DropBoxWire::directLink(QStringLiteral("http://localhost:4101/scl/fi/t/a.ipa?dl=0"),
                                      QStringLiteral("localhost:4100"), QStringLiteral("127.0.0.1:4100")),
              QStringLiteral("http://localhost:4101/scl/fi/t/a.ipa?dl=0"));
}

TEST(DropBoxWire, LocalPathLosesOneLevelOfPercentEncoding) {
    EXPECT_EQ(DropBoxWire::localPath(QStringLiteral("/tmp/My%20App.ipa")), QStringLiteral("/tmp/My App.ipa"));
    EXPECT_EQ(DropBoxWire::localPath(QStringLiteral("/tmp/My%2520App.ipa")),
              QStringLiteral("/tmp/My App.ipa"));
    EXPECT_EQ(DropBoxWire::localPath(QStringLiteral("/tmp/Caf%C3%A9.ipa")), QStringLiteral("/tmp/Café.ipa"));
    EXPECT_EQ(DropBoxWire::localPath(QStringLiteral("/tmp/plain.ipa")), QStringLiteral("/tmp/plain.ipa"));
}
} // namespace
