#pragma once

#include <QByteArray>
#include <QMutex>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>

class QProcess;
#include <ostream>

// Readable QString values in GoogleTest failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace testsupport {

// The private HOME every test runs in (created by the test main, removed at exit).
QString homeDir();

// A fresh empty folder under the private HOME.
QString makeTempDir(const QString& prefix = QStringLiteral("t"));

// The repository's source folder, the build folder and a file of the test data (tests/data/).
QString sourceDir();
QString binaryDir();
QString dataPath(const QString& relative);

// Runs the event loop until pred() is true or the time-out passes; returns pred().
bool waitUntil(const std::function<bool()>& pred, int timeoutMs = 10000);

// Writes bytes to a file, creating folders; returns the path.
QString writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);
// The rows of a tab-separated file that have `columns` columns; lines starting with "#" are comments.
QList<QByteArrayList> tsvRows(const QString& path, int columns);

// One run of a program to its end, the event loop turning meanwhile: its exit status (-1 when it
// crashed or did not end), what it printed, during() seeing standard error as it grows.
struct ProgramRun {
    int status = -1;
    QByteArray out, err;
};
ProgramRun runProgram(const QString& program, const QStringList& args,
                      const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                      const QByteArray& input = {},
                      const std::function<void(QProcess&, const QByteArray& err)>& during = {});

// Captures diagnostic log lines for the lifetime of the object.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    QStringList lines() const;
    QString joined() const { return lines().join(QLatin1Char('\n')); }

private:
    mutable QMutex m_mutex; // lines may come from other threads
    QStringList m_lines;
};

// A free TCP port on 127.0.0.1.
quint16 freePort();

} // namespace testsupport
