#include "file_system.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <iterator>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <linux/capability.h>
#include <linux/magic.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

const bool backslashSeparatesFolders = false;

Failure closeHandle(NativeHandle native)
{
    return ::close(native) == 0 ? Failure() : Failure::system(errno);
}

std::string systemReason(unsigned long code) { return std::strerror(int(code)); }

namespace {

Failure lastError() { return Failure::system(errno); }

// The status of name in folder, or of folder itself when name is empty,
// never through a link.
bool statxAt(int folder, const char* name, struct statx& info)
{
    const int flags = AT_SYMLINK_NOFOLLOW | (name[0] == '\0' ? AT_EMPTY_PATH : 0);
    return ::statx(folder, name, flags, STATX_BASIC_STATS, &info) == 0;
}

bool stickyAndWorldWritable(const struct statx& folder)
{
    return (folder.stx_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
}

// Whether a file or link of this owner in that folder may be another user's
// trap for the caller: the rule of fs.protected_symlinks and
// fs.protected_regular.
bool othersInShared(const struct statx& folder, uid_t owner)
{
    return stickyAndWorldWritable(folder) && owner != ::geteuid() && owner != folder.stx_uid;
}

void describe(const struct statx& info, FileStatus& status)
{
    status.type = S_ISREG(info.stx_mode)   ? FileStatus::Type::regular
                  : S_ISDIR(info.stx_mode) ? FileStatus::Type::folder
                                           : FileStatus::Type::other;
    status.device = makedev(info.stx_dev_major, info.stx_dev_minor);
    status.file = info.stx_ino;
    status.size = info.stx_size;
    status.modified = {info.stx_mtime.tv_sec, info.stx_mtime.tv_nsec};
    status.changed = {info.stx_ctime.tv_sec, info.stx_ctime.tv_nsec};
    const uint64_t fixedAttributes = STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE;
    status.appendOnlyOrImmutable =
        (info.stx_attributes & info.stx_attributes_mask & fixedAttributes) != 0;
}

Failure openFolder(const char* path, Handle& folder)
{
    folder = Handle(::open(path, O_PATH | O_DIRECTORY | O_CLOEXEC));
    return folder.valid() ? Failure() : lastError();
}

// The components of path, last first, so that the next is at the back.
void pushComponents(const std::string& path, std::vector<std::string>& pending)
{
    for (size_t end = path.size(); end > 0;) {
        const size_t slash = path.rfind('/', end - 1);
        const size_t start = slash == std::string::npos ? 0 : slash + 1;
        if (end > start)
            pending.push_back(path.substr(start, end - start));
        if (slash == std::string::npos)
            break;
        end = slash;
    }
}

// Whether folder is on procfs, whose links (a process's root, its current
// folder, its open files) stand for what the process holds, not for their
// text, which may name another file here or none.
bool inProc(const Handle& folder)
{
    struct statfs system;
    return ::fstatfs(folder.native, &system) == 0 && system.f_type == PROC_SUPER_MAGIC;
}

// Lets the kernel follow the link name in procfs, as any open of the path
// would, into target; false where it leads nowhere.
bool followInProc(const Handle& folder, const std::string& name, Handle& target, struct statx& info)
{
    target = Handle(::openat(folder.native, name.c_str(), O_PATH | O_CLOEXEC));
    return target.valid() && statxAt(target.native, "", info);
}

// Replaces the link name in folder by what it points to, at the front of
// pending, as the kernel would follow it with fs.protected_symlinks on.
Failure follow(Handle& folder, const std::string& name, const struct statx& link,
               std::vector<std::string>& pending, int& hops)
{
    struct statx here;
    if (++hops > 40)
        return Failure::system(ELOOP);
    if (inProc(folder)) {
        Handle target;
        struct statx info;
        if (!followInProc(folder, name, target, info))
            return lastError();
        if (!S_ISDIR(info.stx_mode))
            return Failure::system(ENOTDIR);
        folder = std::move(target);
        return Failure();
    }
    if (!statxAt(folder.native, "", here))
        return lastError();
    if (othersInShared(here, link.stx_uid))
        return Failure::of(Failure::Kind::denied);
    // Linux keeps a link's text shorter than PATH_MAX, so this never cuts
    // it, even where the link was replaced since its size was read.
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlinkat(folder.native, name.c_str(), &target[0], target.size());
    if (length < 0)
        return lastError();
    if (length == 0)
        return Failure::system(ENOENT);
    target.resize(size_t(length));
    // A link to "name/" names a folder, as its trailing "." then demands.
    if (target.back() == '/')
        pending.push_back(".");
    pushComponents(target, pending);
    return target[0] == '/' ? openFolder("/", folder) : Failure();
}

} // namespace

namespace {
// Walks path from start (the current folder for AT_FDCWD) as openFolderOf
// says. Where whole is given, a path that names a folder is no failure:
// that folder is opened there, folder is left closed and name empty.
Failure resolve(int start, const std::string& path, Handle& folder, std::string& name,
                Handle* whole)
{
    if (path.empty())
        return Failure::system(ENOENT);
    std::vector<std::string> pending;
    pushComponents(path, pending);
    const std::string& last = pending.empty() ? path : pending.front();
    if (whole == nullptr && (path.back() == '/' || last == "." || last == ".."))
        return Failure::of(Failure::Kind::folder);
    if (whole != nullptr && path.back() == '/')
        pending.insert(pending.begin(), ".");
    Handle current;
    Failure failure;
    // Most paths hold no link: then the kernel walks to the folder in one
    // call, and one component is left.
    const size_t slash = path.rfind('/');
    struct open_how how = {};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS;
    if (slash != std::string::npos && whole == nullptr)
        current = Handle(int(
            ::syscall(SYS_openat2, start, path.substr(0, slash + 1).c_str(), &how, sizeof how)));
    if (current.valid())
        pending.resize(1);
    else if (path[0] == '/')
        failure = openFolder("/", current);
    else
        current = Handle(::openat(start, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!failure.failed() && !current.valid())
        failure = lastError();
    int hops = 0;
    while (!failure.failed() && !pending.empty()) {
        const std::string component = std::move(pending.back());
        pending.pop_back();
        struct statx info;
        if (component == ".")
            continue;
        if (pending.empty() && component != "..") {
            // The last name: a link there is followed, anything else is the
            // target. A link of /proc that leads to a file is the target
            // too: it stands for the file a process holds open, which can be
            // read through it but has no name in any folder to replace.
            Handle target;
            struct statx led;
            const bool found = statxAt(current.native, component.c_str(), info);
            const bool link = found && S_ISLNK(info.stx_mode);
            if (link && inProc(current)) {
                if (!followInProc(current, component, target, led))
                    return lastError();
                if (S_ISDIR(led.stx_mode) && whole != nullptr)
                    return *whole = std::move(target), Failure();
                if (S_ISDIR(led.stx_mode))
                    return Failure::of(Failure::Kind::folder);
            } else if (link) {
                failure = follow(current, component, info, pending, hops);
                continue;
            } else if (found && S_ISDIR(info.stx_mode) && whole != nullptr) {
                // Opened as any folder on the way is.
                pending.push_back(".");
                pending.push_back(component);
                continue;
            }
            folder = std::move(current);
            name = component;
            return Failure();
        }
        Handle next(::openat(current.native, component.c_str(),
                             O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next.valid())
            current = std::move(next);
        else if (errno != ENOTDIR && errno != ELOOP)
            failure = lastError();
        else if (!statxAt(current.native, component.c_str(), info))
            failure = lastError();
        else if (!S_ISLNK(info.stx_mode))
            failure = Failure::system(ENOTDIR);
        else
            failure = follow(current, component, info, pending, hops);
    }
    if (!failure.failed() && whole != nullptr)
        *whole = std::move(current);
    // What a link led to ended in a folder.
    return failure.failed() || whole != nullptr ? failure : Failure::of(Failure::Kind::folder);
}
} // namespace

Failure openFolderOf(const std::string& path, Handle& folder, std::string& name)
{
    return resolve(AT_FDCWD, path, folder, name, nullptr);
}

Failure openFolderOf(const Handle& start, const std::string& path, Handle& folder,
                     std::string& name)
{
    return resolve(start.native, path, folder, name, nullptr);
}

Failure openFolderPath(const std::string& path, Handle& folder)
{
    Handle holding;
    std::string name;
    folder = Handle();
    const Failure failure = resolve(AT_FDCWD, path, holding, name, &folder);
    struct statx info;
    if (failure.failed() || folder.valid())
        return failure;
    return statxAt(holding.native, name.c_str(), info) ? Failure::of(Failure::Kind::notFolder)
                                                       : lastError();
}

Failure openSubfolderAt(const Handle& folder, const std::string& name, Handle& subfolder)
{
    subfolder = Handle(
        ::openat(folder.native, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    return subfolder.valid() ? Failure() : lastError();
}

Failure listFolder(const Handle& folder, std::vector<FolderEntry>& entries)
{
    entries.clear();
    const int listed = ::openat(folder.native, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* const stream = listed < 0 ? nullptr : ::fdopendir(listed);
    if (stream == nullptr) {
        const Failure failure = lastError();
        if (listed >= 0)
            ::close(listed);
        return failure;
    }
    errno = 0;
    while (const struct dirent* found = ::readdir(stream)) {
        const std::string name = found->d_name;
        if (name == "." || name == "..")
            continue;
        unsigned char type = found->d_type;
        struct statx info;
        // Some file systems leave the type to a look of its own.
        if (type == DT_UNKNOWN && statxAt(folder.native, found->d_name, info))
            type = S_ISDIR(info.stx_mode) ? DT_DIR : S_ISLNK(info.stx_mode) ? DT_LNK : DT_REG;
        entries.push_back({name, type == DT_DIR   ? FolderEntry::Type::folder
                                 : type == DT_LNK ? FolderEntry::Type::link
                                                  : FolderEntry::Type::other});
        errno = 0;
    }
    const Failure failure = errno == 0 ? Failure() : lastError();
    ::closedir(stream);
    return failure;
}

Failure statusAt(const Handle& folder, const std::string& name, FileStatus& status,
                 FileStatus* folderStatus)
{
    status = FileStatus();
    struct statx info;
    struct statx here;
    const bool found = statxAt(folder.native, name.c_str(), info);
    if (!found && errno != ENOENT)
        return lastError();
    if (found)
        describe(info, status);
    if (folderStatus == nullptr)
        return Failure();
    if (!statxAt(folder.native, "", here))
        return lastError();
    describe(here, *folderStatus);
    status.othersInSharedFolder = found && othersInShared(here, info.stx_uid);
    status.readOnly =
        status.type == FileStatus::Type::regular &&
        ::faccessat(folder.native, name.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0 &&
        (errno == EACCES || errno == EPERM);
    return Failure();
}

Failure statusOf(const Handle& file, FileStatus& status)
{
    status = FileStatus();
    struct statx info;
    if (!statxAt(file.native, "", info))
        return lastError();
    describe(info, status);
    return Failure();
}

Failure openAt(const Handle& folder, const std::string& name, Handle& file)
{
    file = Handle(::openat(folder.native, name.c_str(),
                           O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    return file.valid() ? Failure() : lastError();
}

Failure openStandardInput(Handle& input)
{
    input = Handle(::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0));
    return input.valid() ? Failure() : lastError();
}

Failure openToReadAt(const Handle& folder, const std::string& name, Handle& file)
{
    // A pipe is waited for, as any reader waits for its writer. A link found
    // here now came after the walk, which may have refused to follow it;
    // those of /proc stand for what a process holds and are followed.
    const int noLink = inProc(folder) ? 0 : O_NOFOLLOW;
    file = Handle(::openat(folder.native, name.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC | noLink));
    if (file.valid())
        return Failure();
    return errno == ELOOP && noLink != 0 ? Failure::of(Failure::Kind::changed) : lastError();
}

Failure createAt(const Handle& folder, const std::string& name, bool ownerOnly, Handle& file)
{
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    file = Handle(::openat(folder.native, name.c_str(), flags, ownerOnly ? 0600 : 0666));
    if (file.valid())
        return Failure();
    return errno == EEXIST ? Failure::of(Failure::Kind::exists) : lastError();
}

Failure createUnnamedAt(const Handle& folder, bool ownerOnly, Handle& file)
{
    // Naming the file later goes through /proc, which a container may lack.
    static const bool procMounted = ::access("/proc/self/fd", X_OK) == 0;
    if (!procMounted)
        return Failure::system(ENOENT);
    file = Handle(
        ::openat(folder.native, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, ownerOnly ? 0600 : 0666));
    return file.valid() ? Failure() : lastError();
}

Failure linkAt(const Handle& file, const Handle& folder, const std::string& name)
{
    const std::string self = "/proc/self/fd/" + std::to_string(file.native);
    if (::linkat(AT_FDCWD, self.c_str(), folder.native, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return Failure();
    return errno == EEXIST ? Failure::of(Failure::Kind::exists) : lastError();
}

Failure keepWhenClosed(const Handle&) { return Failure(); }

Failure waitUntilReplaceable(const Handle&, const std::string&) { return Failure(); }

Failure readSome(const Handle& file, unsigned char* buffer, size_t size, size_t& done)
{
    ssize_t n;
    while ((n = ::read(file.native, buffer, size)) < 0)
        if (errno != EINTR)
            return lastError();
    done = size_t(n);
    return Failure();
}

Failure readAt(const Handle& file, uint64_t offset, unsigned char* buffer, size_t size,
               size_t& done)
{
    ssize_t n;
    while ((n = ::pread(file.native, buffer, size, off_t(offset))) < 0)
        if (errno != EINTR)
            return lastError();
    done = size_t(n);
    return Failure();
}

Failure writeAll(const Handle& file, const unsigned char* bytes, size_t size)
{
    for (size_t done = 0; done < size;) {
        const ssize_t n = ::write(file.native, bytes + done, size - done);
        if (n < 0 && errno != EINTR)
            return lastError();
        done += n < 0 ? 0 : size_t(n);
    }
    return Failure();
}

Failure flush(const Handle& file)
{
    // A file system that cannot flush at all says EINVAL; there the write
    // still goes on.
    return ::fsync(file.native) == 0 || errno == EINVAL ? Failure() : lastError();
}

namespace {

// Reads a list or a value of the extended attributes through get, which
// takes a buffer and its size and returns the size used or -1.
template <typename Get> bool readAttributes(std::vector<char>& bytes, Get get)
{
    for (;;) {
        const ssize_t size = get(nullptr, 0);
        if (size < 0)
            return false;
        bytes.resize(size_t(size));
        const ssize_t used = get(bytes.data(), bytes.size());
        if (used >= 0) {
            bytes.resize(size_t(used));
            return true;
        }
        if (errno != ERANGE)
            return false;
    }
}

const char* const accessAcl = "system.posix_acl_access";

// Whether the caller may change a file's owner: root, or a process given
// that capability alone.
bool mayGiveFilesAway()
{
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    return ::syscall(SYS_capget, &header, data) == 0 &&
           (data[0].effective & (1u << CAP_CHOWN)) != 0;
}

} // namespace

Failure copyMetadata(const Handle& original, const Handle& file)
{
    struct stat info;
    if (::fstat(original.native, &info) != 0)
        return lastError();
    // Ownership first: changing it clears set-id bits that the mode below
    // restores. An ordinary user may not give a file away, but may keep its
    // group when they belong to it; the file then becomes theirs, as a copy.
    // Whoever may give it away must, or the owner could lose the file.
    if (::fchown(file.native, info.st_uid, info.st_gid) != 0) {
        if (mayGiveFilesAway())
            return Failure::of(Failure::Kind::ownerLost, errno);
        (void)!::fchown(file.native, uid_t(-1), info.st_gid);
    }

    // The attributes, the ACL among them, exactly: a file system without
    // them has none to keep.
    std::vector<char> names;
    std::vector<char> value;
    bool hasAcl = false;
    if (!readAttributes(names,
                        [&](char* b, size_t n) { return ::flistxattr(original.native, b, n); }) &&
        errno != ENOTSUP)
        return Failure::of(Failure::Kind::metadataLost, errno);
    for (size_t at = 0; at < names.size(); at += std::strlen(&names[at]) + 1) {
        const char* attribute = &names[at];
        hasAcl = hasAcl || std::strcmp(attribute, accessAcl) == 0;
        if (!readAttributes(
                value,
                [&](char* b, size_t n) { return ::fgetxattr(original.native, attribute, b, n); }) ||
            ::fsetxattr(file.native, attribute, value.data(), value.size(), 0) != 0)
            return Failure::of(Failure::Kind::metadataLost, errno);
    }
    // An ACL the new file took from its folder would widen what the
    // original allowed.
    if (!hasAcl && ::fremovexattr(file.native, accessAcl) != 0 && errno != ENODATA &&
        errno != ENOTSUP)
        return Failure::of(Failure::Kind::metadataLost, errno);
    return ::fchmod(file.native, info.st_mode & 07777) == 0 ? Failure() : lastError();
}

Failure moveAt(const Handle& folder, const std::string& from, const std::string& to, bool)
{
    return ::renameat(folder.native, from.c_str(), folder.native, to.c_str()) == 0 ? Failure()
                                                                                   : lastError();
}

void removeAt(NativeHandle folder, const char* name) { ::unlinkat(folder, name, 0); }

namespace {
thread_local sigset_t held;
void (*removeAtEnd)() = nullptr;

void endOnSignal(int signal)
{
    removeAtEnd();
    // Held until this handler returns, then ends the process as usual.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}
} // namespace

void removeOnEnding(void (*remove)())
{
    removeAtEnd = remove;
    // Every signal whose default ends the process and that can be caught.
    const int ending[] = {SIGHUP,    SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
                          SIGFPE,    SIGUSR1, SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,
                          SIGSTKFLT, SIGXCPU, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSYS};
    struct sigaction action = {};
    for (int signal = 1; signal < NSIG; ++signal) {
        const bool realTime = signal >= SIGRTMIN && signal <= SIGRTMAX;
        if (!realTime &&
            std::find(std::begin(ending), std::end(ending), signal) == std::end(ending))
            continue;
        if (::sigaction(signal, nullptr, &action) != 0 || action.sa_handler == SIG_IGN)
            continue;
        action.sa_handler = endOnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        ::sigaction(signal, &action, nullptr);
    }
}

void holdSignals()
{
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &held);
}

void releaseSignals() { pthread_sigmask(SIG_SETMASK, &held, nullptr); }
