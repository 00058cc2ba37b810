// A program that crashes on purpose, so tests can check what the next start finds.
#include "core/CrashHandler.h"

#include <QCoreApplication>

#include <sys/mman.h>

#include <csignal>
#include <cstring>
#include <stdexcept>

namespace {
struct ProbeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A real access violation: a write to a page mapped without any access rights (a null write
// would be caught by the undefined-behaviour sanitizer before the signal).
[[gnu::noinline]] void crashBySegfault() {
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    *static_cast<volatile int*>(page) = 1;
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Vantry");
    QCoreApplication::setApplicationName("Vantry");
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
