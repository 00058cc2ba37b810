#include "CliSupport.h"
#include "support/TestSupport.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace {

CliRun runUa(const QStringList& args) {
    return cli(QStringList{QStringLiteral("ua")} + args);
}

const QString iphone =
    QStringLiteral("Mozilla/5.0 (iPhone; CPU iPhone OS 10_3_1 like Mac OS X) AppleWebKit/603.1.30 "
                   "(KHTML, like Gecko) Version/10.0 Mobile/14E304 Safari/602.1");
const QString iphoneJson = QStringLiteral(
    R"({"browser":{"name":"Mobile Safari","version":"10.0"},"cpu":null,)"
    R"("device":{"vendor":"Apple","type":"mobile","model":"iPhone"},)"
    R"("engine":{"name":"WebKit","version":"603.1.30"},"os":{"name":"ios","version":"10.3.1"}})");
const QString emptyJson =
    QStringLiteral(R"({"browser":null,"cpu":null,"device":null,"engine":null,"os":null})");

TEST(UaCommand, OneAgentPrintsOneObject) {
    const CliRun run = runUa({iphone});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, iphoneJson + QLatin1Char('\n'));

    // Absent fields inside a present record are null too.
    const CliRun mac = runUa({QStringLiteral("Mozilla/5.0 (Macintosh; \"q\\\") Safari/85.5")});
    EXPECT_EQ(mac.out.trimmed(), QStringLiteral(R"({"browser":null,"cpu":null,"device":null,"engine":null,)"
                                                R"("os":{"name":"mac os","version":null}})"));
}

TEST(UaCommand, FileGivesOneLinePerAgentInOrder) {
    const QString dir = testsupport::makeTempDir();
    const QString path =
        testsupport::writeFile(dir + QStringLiteral("/agents.txt"),
                               (iphone + QStringLiteral("\r\n\n(Windows NT 5.2; Win64; x64)\n")).toUtf8());
    const CliRun run = runUa({QStringLiteral("--file"), path});
    EXPECT_EQ(run.status, 0);
    const QStringList lines = run.out.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 4) << run.out.toStdString(); // three objects and the final newline
    EXPECT_EQ(lines.at(0), iphoneJson);
    EXPECT_EQ(lines.at(1), emptyJson);
    EXPECT_EQ(lines.at(2),
              QStringLiteral(R"({"browser":null,"cpu":{"identifier":"amd64"},"device":null,"engine":null,)"
                             R"("os":{"name":"Windows","version":"XP"}})"));
}

TEST(UaCommand, BadUsageAndMissingFile) {
    for (const QStringList& bad :
         {QStringList{}, QStringList{"a", "b"}, QStringList{"--file", "x", "agent"}, QStringList{"--bogus"}})
        EXPECT_EQ(runUa(bad).status, 2) << bad.join(u' ').toStdString();
    const CliRun missing =
        runUa({QStringLiteral("--file"), testsupport::makeTempDir() + QStringLiteral("/none.txt")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.err.contains(QLatin1String("none.txt"))) << missing.err.toStdString();
    EXPECT_TRUE(missing.out.isEmpty());
}

// "--file -" reads standard input as the same stream of lines as a file, whatever its bytes.
TEST(UaCommand, StandardInputGivesWhatTheFileGives) {
    const QByteArray inputs[] = {
        (iphone + QStringLiteral("\n\n")).toUtf8(),
        QByteArray("abc\n\0\ndef\n", 10),
        QByteArray(300000, '\0'),
        QByteArray(70000, 'x') + "\r\n\0\r\n" + iphone.toUtf8(),
    };
    for (const QByteArray& input : inputs) {
        const QString path =
            testsupport::writeFile(testsupport::makeTempDir() + QStringLiteral("/in"), input);
        const CliRun fromFile = runUa({QStringLiteral("--file"), path});
        QProcess process;
        process.setStandardInputFile(path);
        process.start(testsupport::binaryDir() + QStringLiteral("/src/cli/vantry-cli"),
                      {QStringLiteral("ua"), QStringLiteral("--file"), QStringLiteral("-")});
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 0);
        EXPECT_EQ(QString::fromUtf8(process.readAllStandardOutput()), fromFile.out);
        EXPECT_EQ(fromFile.out.count(QLatin1Char('\n')), input.count('\n') + (input.endsWith('\n') ? 0 : 1));
    }
}

} // namespace
