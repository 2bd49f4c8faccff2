#include "process.h"

#include <algorithm>
#include <csignal>
#include <iterator>

#include "file.h"

namespace {
void endOnSignal(int signal)
{
    removeTemporaryFiles();
    // Held until this handler returns, then ends the process as usual.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}
} // namespace

bool asksForHelp(const std::string&) { return false; }

std::vector<std::string> startProcess(int argc, char** argv)
{
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
