#include "process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <fcntl.h>
#include <malloc.h>
#include <pthread.h>
#include <sys/resource.h>

#include "machine.h"

namespace {
// A standard descriptor left closed by whoever started the tool would be
// taken by the next file opened, and a message or list meant for it would
// land in that file. Each is held instead by /dev/null opened as a mere
// path, which fails every read and write as a closed descriptor does, so
// that output that cannot be given still changes the exit status.
void holdStandardDescriptors()
{
    for (const int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(descriptor, F_GETFD) != -1 || errno != EBADF)
            continue;
        int held = ::open("/dev/null", O_PATH);
        if (held < 0)
            held = ::open("/", O_PATH);
        if (held != descriptor)
            std::_Exit(1);
    }
}

// Where the address space is bounded, what threads reserve of it beside
// the files' pixels must be small and known: each a stack of threadStack
// rather than the 8 MiB that the stack limit usually gives, and no
// allocator arena of its own, which reserves 64 MiB at once.
void reserveLittleForThreads()
{
    rlimit space;
    if (::getrlimit(RLIMIT_AS, &space) != 0 || space.rlim_cur == RLIM_INFINITY)
        return;
    ::mallopt(M_ARENA_MAX, 1);
    pthread_attr_t small;
    if (::pthread_attr_init(&small) != 0)
        return;
    if (::pthread_attr_setstacksize(&small, threadStack) == 0)
        ::pthread_setattr_default_np(&small);
    ::pthread_attr_destroy(&small);
}
} // namespace

bool asksForHelp(const std::string&) { return false; }

std::vector<std::string> startProcess(int argc, char** argv)
{
    holdStandardDescriptors();
    reserveLittleForThreads();
    // A write past the limit then fails like any other.
    ::signal(SIGXFSZ, SIG_IGN);
    return std::vector<std::string>(argv, argv + argc);
}
