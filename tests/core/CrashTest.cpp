#include "core/CrashHandler.h"
#include "core/Preferences.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>

namespace {

// Runs the probe in a child process that shares this test's private HOME.
void crashProbe(const char* mode) {
    // Under the sanitizers, their own fatal-signal handlers would report first and exit.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ASAN_OPTIONS", QStringLiteral("handle_segv=0:handle_sigbus=0:handle_sigfpe=0:"
                                              "handle_sigill=0:handle_abort=0:detect_leaks=0"));
    EXPECT_EQ(testsupport::runProgram(QStringLiteral(CRASH_PROBE_PATH), {mode}, env).status, -1) << mode;
}

} // namespace

TEST(CrashReport, UncaughtExceptionsAndFatalSignalsAreReadBackAtNextStart) {
    crashProbe("throw");
    ASSERT_TRUE(QFile::exists(CrashHandler::reportFilePath()));
    ASSERT_TRUE(CrashHandler::collectPendingReport());
    EXPECT_FALSE(QFile::exists(CrashHandler::reportFilePath()));

    std::optional<Crash> crash = CrashHandler::storedReport();
    ASSERT_TRUE(crash);
    EXPECT_TRUE(crash->name.endsWith("ProbeError")) << crash->name.toStdString();
    EXPECT_EQ(crash->reason, "probe failure\nwith a second line");
    EXPECT_FALSE(crash->callStackSymbols.value(0).isEmpty());
    EXPECT_FALSE(CrashHandler::collectPendingReport()) << "a report is collected once";

    // Fatal signals are reported too; of two crashes before the next start, the later wins.
    crashProbe("throw");
    crashProbe("segv");
    ASSERT_TRUE(CrashHandler::collectPendingReport());
    crash = CrashHandler::storedReport();
    ASSERT_TRUE(crash);
    EXPECT_EQ(crash->name + ": " + crash->reason, "SIGSEGV: Segmentation fault");
    EXPECT_GE(crash->callStackSymbols.size(), 2);

    // A crash after the report was collected (but not yet sent) replaces it.
    crashProbe("fpe");
    ASSERT_TRUE(CrashHandler::collectPendingReport());
    EXPECT_EQ(CrashHandler::storedReport().value_or(Crash()).name, "SIGFPE");

    CrashHandler::clearStoredReport();
    EXPECT_FALSE(CrashHandler::storedReport());
    // A stored value that is not a dictionary, or a report without its header, is no crash.
    Preferences::setValue(Preferences::hasCrashed, "garbage");
    EXPECT_FALSE(CrashHandler::storedReport());
    EXPECT_FALSE(CrashHandler::parseReport("no header here\n"));
}
