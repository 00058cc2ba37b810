#include "CliSupport.h"
#include "support/TestSupport.h"

#include <QTcpServer>

#include <gtest/gtest.h>

namespace {

const QString iphone =
    QStringLiteral("Mozilla/5.0 (iPhone; CPU iPhone OS 10_3_1 like Mac OS X) AppleWebKit/603.1.30 "
                   "(KHTML, like Gecko) Version/10.0 Mobile/14E304 Safari/602.1");
const QString iphoneJson = QStringLiteral(
    R"({"browser":{"name":"Mobile Safari","version":"10.0"},"cpu":null,)"
    R"("device":{"vendor":"Apple","type":"mobile","model":"iPhone"},)"
    R"("engine":{"name":"WebKit","version":"603.1.30"},"os":{"name":"ios","version":"10.3.1"}})");

// One agent gives one object; a file one line per agent, in order. Absent fields are null, also
// inside a present record. Bad usage exits 2, a missing file 1.
TEST(UaCommand, OneObjectPerAgentInOrderAndBadUsage) {
    const CliRun one = cli({QStringLiteral("ua"), iphone});
    EXPECT_EQ(one.status, 0) << one.err.toStdString();
    EXPECT_EQ(one.out, iphoneJson + QLatin1Char('\n'));

    const QString path = testsupport::writeFile(
        testsupport::makeTempDir() + QStringLiteral("/agents.txt"),
        (iphone + QStringLiteral("\r\n\n(Windows NT 5.2; Win64; x64)\nMozilla/5.0 (Macintosh; \"q\\\") "
                                 "Safari/85.5\n"))
            .toUtf8());
    const CliRun run = cli({QStringLiteral("ua"), QStringLiteral("--file"), path});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.split(QLatin1Char('\n')),
              (QStringList{iphoneJson, R"({"browser":null,"cpu":null,"device":null,"engine":null,"os":null})",
                           R"({"browser":null,"cpu":{"identifier":"amd64"},"device":null,"engine":null,)"
                           R"("os":{"name":"Windows","version":"XP"}})",
                           R"({"browser":null,"cpu":null,"device":null,"engine":null,)"
                           R"("os":{"name":"mac os","version":null}})",
                           QString()}));

    for (const QStringList& bad :
         {QStringList{}, QStringList{"a", "b"}, QStringList{"--file", "x", "agent"}, QStringList{"--bogus"}})
        EXPECT_EQ(cli(QStringList{QStringLiteral("ua")} + bad).status, 2) << bad.join(u' ').toStdString();
    const CliRun missing = cli({QStringLiteral("ua"), QStringLiteral("--file"),
                                testsupport::makeTempDir() + QStringLiteral("/none.txt")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.err.contains(QLatin1String("none.txt"))) << missing.err.toStdString();
    EXPECT_TRUE(missing.out.isEmpty());
}

// "--file -" reads standard input as the same stream of lines as a file, whatever its bytes. The
// program makes no request on the way: only publish talks to the backend.
TEST(UaCommand, StandardInputGivesWhatTheFileGives) {
    QTcpServer backend;
    ASSERT_TRUE(backend.listen(QHostAddress::LocalHost));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VANTRY_BACKEND_BASE_URL"),
               QStringLiteral("http://127.0.0.1:%1/").arg(backend.serverPort()));
    const QByteArray inputs[] = {
        (iphone + QStringLiteral("\n\n")).toUtf8(),
        QByteArray("abc\n\0\ndef\n", 10),
        QByteArray(300000, '\0'),
        QByteArray(70000, 'x') + "\r\n\0\r\n" + iphone.toUtf8(),
    };
    for (const QByteArray& input : inputs) {
        const QString path =
            testsupport::writeFile(testsupport::makeTempDir() + QStringLiteral("/in"), input);
        const CliRun fromFile = cli({QStringLiteral("ua"), QStringLiteral("--file"), path});
        const testsupport::ProgramRun piped =
            testsupport::runProgram(testsupport::binaryDir() + QStringLiteral("/src/cli/vantry-cli"),
                                    {"ua", "--file", "-"}, env, input);
        EXPECT_EQ(piped.status, 0);
        EXPECT_EQ(QString::fromUtf8(piped.out), fromFile.out);
        EXPECT_EQ(fromFile.out.count(QLatin1Char('\n')), input.count('\n') + (input.endsWith('\n') ? 0 : 1));
    }
    EXPECT_FALSE(backend.hasPendingConnections() || backend.waitForNewConnection(0));
}

} // namespace
