// Test main: every test program runs with a private HOME and XDG folders, so no test reads or
// writes the developer's preferences, credentials or Documents folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#ifdef VANTRY_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#include <cstdlib>

extern char** environ;

namespace {
void isolateEnvironment(const QString& home) {
    // Configuration from the developer's shell must not leak into tests.
    QStringList names;
    for (char** e = environ; *e; ++e) {
        const QString entry = QString::fromLocal8Bit(*e);
        const QString name = entry.section(QLatin1Char('='), 0, 0);
        if (name.startsWith(QLatin1String("VANTRY_")) && name != QLatin1String("VANTRY_SOURCE_DIR") &&
            name != QLatin1String("VANTRY_BINARY_DIR"))
            names.append(name);
    }
    for (const QString& name : names)
        qunsetenv(name.toLocal8Bit().constData());

    const auto setDir = [&](const char* var, const QString& sub) {
        const QString path = home + sub;
        QDir().mkpath(path);
        qputenv(var, QFile::encodeName(path));
    };
    setDir("HOME", QString());
    setDir("XDG_CONFIG_HOME", QStringLiteral("/.config"));
    setDir("XDG_DATA_HOME", QStringLiteral("/.local/share"));
    setDir("XDG_CACHE_HOME", QStringLiteral("/.cache"));
    setDir("XDG_STATE_HOME", QStringLiteral("/.local/state"));
    setDir("XDG_RUNTIME_DIR", QStringLiteral("/.runtime"));
    QFile::setPermissions(home + QStringLiteral("/.runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QDir().mkpath(home + QStringLiteral("/Documents"));
    // No keychain service for tests: the credential store falls back to its owner-only file.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
}
} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/vantry-test-XXXXXX"));
    if (!home.isValid())
        return 3;
    isolateEnvironment(home.path());

    // CTest's test discovery runs the program without the test environment; GUI tests must still
    // start on a machine without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TestApplication app(argc, argv);
    TestApplication::setOrganizationName(QStringLiteral("Vantry"));
    TestApplication::setApplicationName(QStringLiteral("Vantry"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
