// A program that crashes on purpose, so tests can check what the next start finds.
#include "backend/CrashHandler.h"

#include <QCoreApplication>

#include <csignal>
#include <cstring>
#include <stdexcept>

namespace {
struct ProbeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[gnu::noinline]] void crashBySegfault() {
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vantry"));
    QCoreApplication::setApplicationName(QStringLiteral("Vantry"));
    CrashHandler::install();
    const char* mode = argc > 1 ? argv[1] : "";
    if (std::strcmp(mode, "throw") == 0)
        throw ProbeError("probe failure\nwith a second line");
    if (std::strcmp(mode, "segv") == 0)
        crashBySegfault();
    if (std::strcmp(mode, "fpe") == 0)
        std::raise(SIGFPE);
    return 0;
}
