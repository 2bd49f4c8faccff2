#include "process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <iterator>

#include <fcntl.h>

#include "file.h"

namespace {
void endOnSignal(int signal)
{
    removeTemporaryFiles();
    // Held until this handler returns, then ends the process as usual.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}
// A standard descriptor left closed by whoever started the tool would be
// taken by the next file opened, and a message or list meant for it would
// land in that file. Each is held instead by /dev/null opened as a mere
// path, which fails every read and write as a closed descriptor does, so
// that output that cannot be given still changes the exit status.
void holdStandardDescriptors()
{
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (::fcntl(descriptor, F_GETFD) != -1 || errno != EBADF)
            continue;
        int held = ::open("/dev/null", O_PATH);
        if (held < 0)
            held = ::open("/", O_PATH);
        if (held != descriptor)
            std::_Exit(1);
    }
}
} // namespace

bool asksForHelp(const std::string&) { return false; }

std::vector<std::string> startProcess(int argc, char** argv)
{
    holdStandardDescriptors();
    // A write past the limit then fails like any other.
    ::signal(SIGXFSZ, SIG_IGN);
    // Every signal whose default ends the process and that can be caught.
    const int ending[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,
                          SIGUSR1, SIGSEGV, SIGUSR2,   SIGPIPE, SIGALRM, SIGTERM, SIGSTKFLT, SIGXCPU,
                          SIGVTALRM, SIGPROF, SIGIO, SIGPWR, SIGSYS};
    struct sigaction action = {};
    for (int signal = 1; signal < NSIG; ++signal) {
        const bool realTime = signal >= SIGRTMIN && signal <= SIGRTMAX;
        if (!realTime && std::find(std::begin(ending), std::end(ending), signal) == std::end(ending))
            continue;
        // A signal that whoever started the tool ignores stays ignored.
        if (::sigaction(signal, nullptr, &action) != 0 || action.sa_handler == SIG_IGN)
            continue;
        action.sa_handler = endOnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        ::sigaction(signal, &action, nullptr);
    }
    return std::vector<std::string>(argv, argv + argc);
}
