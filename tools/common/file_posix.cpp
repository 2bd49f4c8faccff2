#include "file.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Closes the descriptor on every way out, including a bad_alloc.
struct Descriptor {
    int fd;
    explicit Descriptor(int fd) : fd(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    // Closes now so that an error reported by close is not lost.
    int close()
    {
        int result = ::close(fd);
        fd = -1;
        return result == 0 ? 0 : errno;
    }
};

int writeAll(int fd, const std::vector<unsigned char>& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

// Devices and pipes cannot be replaced by a rename, and a reader of one
// expects the bytes to arrive through it, so they are written directly.
int writeInPlace(const std::string& path, const std::vector<unsigned char>& bytes)
{
    Descriptor file(::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (file.fd < 0)
        return errno;
    if (int error = writeAll(file.fd, bytes))
        return error;
    return file.close();
}

mode_t newFileMode()
{
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// The hidden temporary name is kept short so that a target whose name is
// near the file system's limit still gets one.
std::string temporaryTemplate(const std::string& target)
{
    const size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    return dir + "." + name.substr(0, 64) + ".XXXXXX";
}

// Not errno values: the target is no longer the file that was read; a
// file that must be regular is not.
const int fileChanged = -1;
const int notRegular = -2;

std::string reasonFor(int error)
{
    if (error == fileChanged)
        return "file changed while it was being handled";
    if (error == notRegular)
        return "not a regular file";
    return error == 0 ? std::string() : std::strerror(error);
}

// The temporary file of the replacement under way, for a signal handler.
std::atomic<const char*> pendingTemporary(nullptr);

std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Follows symbolic links one at a time, as the kernel does with
// fs.protected_symlinks on, whatever that setting is: a link in a sticky,
// world-writable folder is followed only for its owner or the folder's.
// Leaves in target the first name that is no link.
int resolveLinks(std::string& target)
{
    struct stat link;
    for (int hops = 0; ::lstat(target.c_str(), &link) == 0 && S_ISLNK(link.st_mode); ++hops) {
        const std::string folder = folderOf(target);
        struct stat info;
        if (hops == 40)
            return ELOOP;
        if (::stat(folder.c_str(), &info) != 0)
            return errno;
        if ((info.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH) && link.st_uid != ::geteuid() &&
            link.st_uid != info.st_uid)
            return EACCES;
        std::string points(static_cast<size_t>(link.st_size) + 1, '\0');
        const ssize_t length = ::readlink(target.c_str(), &points[0], points.size());
        if (length < 0)
            return errno;
        points.resize(static_cast<size_t>(length));
        target = points[0] == '/' || target.find('/') == std::string::npos ? points : folder + "/" + points;
    }
    return 0;
}

int readWhole(const char* path, std::vector<unsigned char>& bytes, bool regularOnly, FileIdentity* identity)
{
    bytes.clear();
    // A pipe without a writer would hold the open forever.
    Descriptor file(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.fd < 0)
        return errno;
    struct stat info;
    if (::fstat(file.fd, &info) != 0)
        return errno;
    if (S_ISDIR(info.st_mode))
        return EISDIR;
    if (regularOnly && !S_ISREG(info.st_mode))
        return notRegular;
    if (!S_ISREG(info.st_mode) && ::fcntl(file.fd, F_SETFL, 0) != 0)
        return errno;
    if (identity != nullptr)
        *identity = FileIdentity{static_cast<unsigned long long>(info.st_dev), static_cast<unsigned long long>(info.st_ino)};

    // The signature and header first. Then one byte more than the stated
    // size lets the read that finds the end succeed without growing the
    // buffer; pipes and files that grow still work, the buffer doubling.
    bytes.resize(33);
    size_t used = 0;
    for (;;) {
        if (used == bytes.size()) {
            if (used == 33 && !startsLikePng(bytes))
                break;
            const bool first = used == 33 && S_ISREG(info.st_mode);
            bytes.resize(first ? std::max<size_t>(static_cast<size_t>(info.st_size) + 1, 66) : used * 2);
        }
        ssize_t n = ::read(file.fd, bytes.data() + used, bytes.size() - used);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            int error = errno;
            bytes.clear();
            return error;
        }
        if (n == 0)
            break;
        used += static_cast<size_t>(n);
    }
    bytes.resize(used);
    return 0;
}

int replace(const char* path, const std::vector<unsigned char>& bytes, const FileIdentity* expected)
{
    std::string target = path;
    if (int error = resolveLinks(target))
        return error;
    struct stat info;
    const bool exists = ::stat(target.c_str(), &info) == 0;
    if (exists) {
        if (S_ISDIR(info.st_mode))
            return EISDIR;
        if (!S_ISREG(info.st_mode))
            return writeInPlace(target, bytes);
        if (::access(target.c_str(), W_OK) != 0)
            return errno;
    } else if (errno != ENOENT) {
        return errno;
    }

    std::string temporary = temporaryTemplate(target);
    Descriptor file(::mkostemp(&temporary[0], O_CLOEXEC));
    if (file.fd < 0)
        return errno;
    pendingTemporary = temporary.c_str();

    int error = 0;
    if (exists) {
        // Ownership first: changing it clears the set-id bits that the
        // mode below restores.
        if ((info.st_uid != ::geteuid() || info.st_gid != ::getegid()) &&
            ::fchown(file.fd, info.st_uid, info.st_gid) != 0) {
            // Not allowed for an ordinary user; the file then becomes theirs,
            // as it would if they had copied it.
        }
        if (::fchmod(file.fd, info.st_mode & 07777) != 0)
            error = errno;
    } else if (::fchmod(file.fd, newFileMode()) != 0) {
        error = errno;
    }
    if (error == 0)
        error = writeAll(file.fd, bytes);
    // On disk before the rename, so that a crash leaves the old file or the
    // new one, never one whose data had not yet been written. A file system
    // that cannot flush at all says EINVAL; there the rename still goes on.
    if (error == 0 && ::fsync(file.fd) != 0 && errno != EINVAL)
        error = errno;
    int closeError = file.close();
    if (error == 0)
        error = closeError;
    // Only the file that was read may be replaced; this leaves the moment
    // between this look and the rename, not the whole of the work before.
    struct stat now;
    if (error == 0 && expected != nullptr &&
        (::lstat(target.c_str(), &now) != 0 || static_cast<unsigned long long>(now.st_dev) != expected->device ||
         static_cast<unsigned long long>(now.st_ino) != expected->file))
        error = fileChanged;
    if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0)
        error = errno;
    if (error != 0)
        ::unlink(temporary.c_str());
    pendingTemporary = nullptr;
    return error;
}

} // namespace

std::string readFile(const char* path, std::vector<unsigned char>& bytes, bool regularOnly, FileIdentity* identity)
{
    return reasonFor(readWhole(path, bytes, regularOnly, identity));
}

std::string replaceFile(const char* path, const std::vector<unsigned char>& bytes, const FileIdentity* expected)
{
    return reasonFor(replace(path, bytes, expected));
}

void removeTemporaryFile()
{
    if (const char* temporary = pendingTemporary.load())
        ::unlink(temporary);
}
