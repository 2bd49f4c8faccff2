// Preloaded into scrubhidden by the benchmark, so that every new file is
// made with a name from the start, as where the file system cannot make
// one without: the cost of each way is then measured on the same disk.
#include <cerrno>
#include <cstdarg>
#include <dlfcn.h>
#include <fcntl.h>

extern "C" int openat(int folder, const char* path, int flags, ...)
{
    using Open = int (*)(int, const char*, int, ...);
    static const Open next = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "openat"));
    if ((flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = va_arg(arguments, mode_t);
    va_end(arguments);
    return next(folder, path, flags, mode);
}
