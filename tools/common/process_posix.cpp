#include "process.h"

#include <csignal>

#include "file.h"

namespace {
void endOnSignal(int signal)
{
    removeTemporaryFile();
    // Blocked until this handler returns, then ends the process as usual.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}
} // namespace

std::vector<std::string> startProcess(int argc, char** argv)
{
    ::signal(SIGXFSZ, SIG_IGN);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action = {};
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
