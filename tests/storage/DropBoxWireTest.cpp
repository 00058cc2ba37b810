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

// Only links on the share host (which may carry a port) are rewritten; rlkey and st stay, dl goes.
TEST(DropBoxWire, DirectLinkRewritesOnlyShareHostLinks) {
    const QString www = QStringLiteral("www.dropbox.com"), dl = QStringLiteral("dl.dropboxusercontent.com");
    const QString local = QStringLiteral("localhost:4100"), direct = QStringLiteral("127.0.0.1:4100");
    const struct {
        const char* shared;
        const QString &shareHost, &directHost;
        const char* expected;
    } cases[] = {
        {"https://www.dropbox.com/scl/fi/k2x7q9/App.ipa?rlkey=a1b2c3d4&dl=0", www, dl,
         "https://dl.dropboxusercontent.com/scl/fi/k2x7q9/App.ipa?rlkey=a1b2c3d4"},
        {"https://www.dropbox.com/s/abc123/App.ipa?dl=0", www, dl,
         "https://dl.dropboxusercontent.com/s/abc123/App.ipa"},
        {"https://www.dropbox.com/s/abc123/App.ipa", www, dl,
         "https://dl.dropboxusercontent.com/s/abc123/App.ipa"},
        {"https://www.dropbox.com/scl/fi/t/My%20App.ipa?dl=0&rlkey=k&st=x1", www, dl,
         "https://dl.dropboxusercontent.com/scl/fi/t/My%20App.ipa?rlkey=k&st=x1"},
        {"https://example.com/s/abc/App.ipa?dl=0", www, dl, "https://example.com/s/abc/App.ipa?dl=0"},
        {"http://localhost:4100/scl/fi/t/a.ipa?rlkey=k&dl=0", local, direct,
         "http://127.0.0.1:4100/scl/fi/t/a.ipa?rlkey=k"},
        {"http://localhost:4101/scl/fi/t/a.ipa?dl=0", local, direct,
         "http://localhost:4101/scl/fi/t/a.ipa?dl=0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DropBoxWire::directLink(QString::fromUtf8(c.shared), c.shareHost, c.directHost),
                  QString::fromUtf8(c.expected))
            << c.shared;
}

TEST(DropBoxWire, LocalPathLosesOneLevelOfPercentEncoding) {
    EXPECT_EQ(DropBoxWire::localPath(QStringLiteral("/tmp/My%20App.ipa")), QStringLiteral("/tmp/My App.ipa"));
    EXPECT_EQ(DropBoxWire::localPath(QStringLiteral("/tmp/My%2520App.ipa")),
              QStringLiteral("/tmp/My App.ipa"));
    EXPECT_EQ(DropBoxWire::localPath(QStringLiteral("/tmp/Caf%C3%A9.ipa")), QStringLiteral("/tmp/Café.ipa"));
    EXPECT_EQ(DropBoxWire::localPath(QStringLiteral("/tmp/plain.ipa")), QStringLiteral("/tmp/plain.ipa"));
}
} // namespace
