#include "core/CrashHandler.h"

#include "core/Preferences.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cxxabi.h>
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

// Report file: "name\t…", "reason\t…", then "stack" and one frame per line. Values escape
// backslash and newline, so a reason with line breaks survives.

namespace {

constexpr int kMaxFrames = 64;
char g_reportPath[4096];
char g_tempPath[4096 + 8];
volatile sig_atomic_t g_handling = 0;
std::terminate_handler g_previousTerminate = nullptr;

void writeAll(int fd, const char* data, size_t len) {
    while (len > 0) {
        const ssize_t n = ::write(fd, data, len);
        if (n <= 0)
            return;
        data += n;
        len -= size_t(n);
    }
}
void writeStr(int fd, const char* s) {
    writeAll(fd, s, std::strlen(s));
}

std::string escaped(const std::string& in) {
    std::string out;
    for (char c : in) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

struct SignalInfo {
    int number;
    const char* name;
    const char* description;
};
constexpr SignalInfo kSignals[] = {
    {SIGSEGV, "SIGSEGV", "Segmentation fault"},
    {SIGABRT, "SIGABRT", "Aborted"},
    {SIGBUS, "SIGBUS", "Bus error"},
    {SIGFPE, "SIGFPE", "Floating point exception"},
    {SIGILL, "SIGILL", "Illegal instruction"},
};

// Async-signal-safe: open, write, backtrace_symbols_fd (after a warm-up call), rename.
void writeReport(const char* name, const char* reason, void* const* frames, int frameCount) {
    const int fd = ::open(g_tempPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    writeStr(fd, "name\t");
    writeStr(fd, name);
    writeStr(fd, "\nreason\t");
    writeStr(fd, reason);
    writeStr(fd, "\nstack\n");
    if (frameCount > 0)
        backtrace_symbols_fd(frames, frameCount, fd);
    ::fsync(fd);
    ::close(fd);
    ::rename(g_tempPath, g_reportPath);
}

void onFatalSignal(int sig) {
    if (!g_handling) {
        g_handling = 1;
        const char* name = "signal";
        const char* reason = "";
        for (const SignalInfo& s : kSignals)
            if (s.number == sig) {
                name = s.name;
                reason = s.description;
            }
        void* frames[kMaxFrames];
        const int n = backtrace(frames, kMaxFrames);
        writeReport(name, reason, frames, n);
    }
    // Die of the same signal so the parent sees the real cause.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

void onTerminate() {
    if (!g_handling) {
        g_handling = 1;
        std::string name = "std::terminate";
        std::string reason = "terminate called without an active exception";
        if (std::type_info* type = abi::__cxa_current_exception_type()) {
            int status = 0;
            char* demangled = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
            name = status == 0 && demangled ? demangled : type->name();
            std::free(demangled);
            reason.clear();
            try {
                std::rethrow_exception(std::current_exception());
            } catch (const std::exception& e) {
                reason = e.what();
            } catch (...) {
            }
        }
        void* frames[kMaxFrames];
        const int n = backtrace(frames, kMaxFrames);
        writeReport(escaped(name).c_str(), escaped(reason).c_str(), frames, n);
    }
    ::signal(SIGABRT, SIG_DFL);
    std::abort();
}

QString unescape(const QString& in) {
    QString out;
    for (int i = 0; i < in.size(); ++i) {
        if (in[i] == QLatin1Char('\\') && i + 1 < in.size()) {
            ++i;
            out += in[i] == QLatin1Char('n') ? QChar(QLatin1Char('\n')) : in[i];
        } else {
            out += in[i];
        }
    }
    return out;
}

} // namespace

namespace CrashHandler {

QString reportFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Vantry/crash-report.txt");
}

void install() {
    const QString path = reportFilePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray native = QFile::encodeName(path);
    if (size_t(native.size()) >= sizeof(g_reportPath))
        return;
    std::memcpy(g_reportPath, native.constData(), size_t(native.size()) + 1);
    std::memcpy(g_tempPath, native.constData(), size_t(native.size()));
    std::memcpy(g_tempPath + native.size(), ".tmp", 5);

    // backtrace() loads libgcc lazily on first use, which is not safe inside a signal handler.
    void* warmup[2];
    backtrace(warmup, 2);

    // An alternate stack lets the handler run after a stack overflow.
    static char altStack[64 * 1024];
    stack_t ss{};
    ss.ss_sp = altStack;
    ss.ss_size = sizeof(altStack);
    sigaltstack(&ss, nullptr);

    struct sigaction action {};
    action.sa_handler = onFatalSignal;
    action.sa_flags = SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const SignalInfo& s : kSignals)
        sigaction(s.number, &action, nullptr);

    g_previousTerminate = std::set_terminate(onTerminate);
}

std::optional<Crash> parseReport(const QByteArray& bytes) {
    const QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    Crash crash;
    bool inStack = false;
    bool sawName = false;
    for (const QString& line : lines) {
        if (inStack) {
            if (!line.isEmpty())
                crash.callStackSymbols.append(line);
        } else if (line.startsWith(QLatin1String("name\t"))) {
            crash.name = unescape(line.mid(5));
            sawName = true;
        } else if (line.startsWith(QLatin1String("reason\t"))) {
            crash.reason = unescape(line.mid(7));
        } else if (line == QLatin1String("stack")) {
            inStack = true;
        }
    }
    if (!sawName)
        return std::nullopt;
    return crash;
}

bool collectPendingReport() {
    QFile file(reportFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const std::optional<Crash> crash = parseReport(file.readAll());
    file.close();
    file.remove();
    if (!crash)
        return false;
    storeReport(*crash);
    return true;
}

std::optional<Crash> storedReport() {
    const QVariant stored = Preferences::value(Preferences::hasCrashed);
    if (stored.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    return Crash(stored.toMap());
}

void storeReport(const Crash& crash) {
    Preferences::setValue(Preferences::hasCrashed, crash.toDictionary());
}

void clearStoredReport() {
    Preferences::remove(Preferences::hasCrashed);
}

} // namespace CrashHandler
