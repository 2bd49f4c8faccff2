#pragma once

// The few primitives of the system that the file layer is built from, one
// implementation for each kind of system, picked when building. Each returns a
// Failure and changes nothing more than it says. Names relative to a folder
// are single components in UTF-8.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "failure.h"

#ifdef _WIN32
using NativeHandle = void*;
inline NativeHandle const noHandle = reinterpret_cast<void*>(-1);
#else
using NativeHandle = int;
inline constexpr NativeHandle noHandle = -1;
#endif

// Whether a backslash separates folders in a path, as on Windows, and so can
// be no part of a name.
extern const bool backslashSeparatesFolders;

// Closes a handle of the system.
Failure closeHandle(NativeHandle native);

// An open file or folder, closed when it goes out of scope; moves, never copies.
struct Handle {
    NativeHandle native = noHandle;

    Handle() = default;
    explicit Handle(NativeHandle native)
        : native(native)
    {
    }
    Handle(Handle&& other) noexcept
        : native(other.native)
    {
        other.native = noHandle;
    }
    // What this held is closed with other.
    Handle& operator=(Handle&& other) noexcept
    {
        std::swap(native, other.native);
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle()
    {
        if (valid())
            closeHandle(native);
    }

    bool valid() const { return native != noHandle; }
    // Closes now, so that an error the close reports is not lost.
    Failure close() { return closeHandle(std::exchange(native, noHandle)); }
};

// What a name or an open file is, and enough of its state to notice any change
// to it: the same device, file, size and times to the nanosecond (or the
// system's finest unit) mean the same file with the same contents.
struct FileStatus {
    enum class Type { missing, regular, folder, other };
    Type type = Type::missing;
    uint64_t device = 0;
    uint64_t file = 0;
    uint64_t size = 0;
    // Times as the system gives them: seconds and nanoseconds on Linux,
    // 100-nanosecond ticks and 0 on Windows.
    std::pair<int64_t, int64_t> modified;
    std::pair<int64_t, int64_t> changed;
    // The caller may not write it.
    bool readOnly = false;
    // It can be neither replaced nor removed.
    bool appendOnlyOrImmutable = false;
    // It sits in a sticky, world-writable folder and belongs to neither the
    // caller nor the folder's owner: another user may have put it there as a
    // trap for the caller.
    bool othersInSharedFolder = false;

    bool sameFileAndContents(const FileStatus& other) const
    {
        return type == other.type && device == other.device && file == other.file &&
               size == other.size && modified == other.modified && changed == other.changed;
    }
};

// Resolves path to the folder that holds its last component, left open in
// folder, and that component's name there. Symbolic links are followed one at
// a time, folders included, but only where the kernel would follow them with
// fs.protected_symlinks on: not in a sticky, world-writable folder unless the
// link belongs to the caller or to the folder's owner. A path that names a
// folder itself (ending in "/", ".", "..") is refused as one. On failure
// folder and name are of no use.
Failure openFolderOf(const std::string& path, Handle& folder, std::string& name);
// The same for a path relative to the folder start, for a name that a
// walk found there.
Failure openFolderOf(const Handle& start, const std::string& path, Handle& folder,
                     std::string& name);

// Opens the folder that path names, its links followed as openFolderOf
// follows them, the last one too; anything else that exists is refused as
// Kind::notFolder.
Failure openFolderPath(const std::string& path, Handle& folder);

// Opens the folder name in folder, never through a link: a link there, or
// anything else but a folder, is refused.
Failure openSubfolderAt(const Handle& folder, const std::string& name, Handle& subfolder);

// A name that a folder holds, and what it is as listed; a link is not
// followed to tell.
struct FolderEntry {
    enum class Type { folder, link, other };
    std::string name;
    Type type = Type::other;
};

// Lists what folder holds, "." and ".." left out, in no order, into
// entries; on failure entries may hold part of it.
Failure listFolder(const Handle& folder, std::vector<FolderEntry>& entries);

// The status of name in folder, not following a link, and of an open file or
// folder. With folderStatus, statusAt also fills in folder's status and
// whether the caller may write name and whether it is another user's file
// in a shared folder, which otherwise stay false.
Failure statusAt(const Handle& folder, const std::string& name, FileStatus& status,
                 FileStatus* folderStatus = nullptr);
Failure statusOf(const Handle& file, FileStatus& status);

// Opens standard input again, to be read as a file is.
Failure openStandardInput(Handle& input);

// Opens name in folder for reading, without following a link there and
// without waiting on a pipe.
Failure openAt(const Handle& folder, const std::string& name, Handle& file);

// Opens name in folder for reading, whatever it is, pipes included,
// waiting for a pipe's writer where it has none yet; where name has become
// a link since openFolderOf found it, refuses it as Kind::changed rather
// than follow it. The links of /proc, which stand for what a process holds,
// are followed.
Failure openToReadAt(const Handle& folder, const std::string& name, Handle& file);

// Creates name in folder for writing; a name that exists already is refused
// as Kind::exists. With ownerOnly, only the caller may open it; otherwise it
// gets what a new file gets there (0666 less the umask, or the folder's
// default ACL). On failure nothing is created and file is not open.
Failure createAt(const Handle& folder, const std::string& name, bool ownerOnly, Handle& file);

// Creates in folder a file with no name, which is gone with its handle
// unless linkAt names it first, so that nothing is left of it whenever the
// process ends. Fails where the system or the file system cannot; the caller
// then falls back to createAt.
Failure createUnnamedAt(const Handle& folder, bool ownerOnly, Handle& file);

// Gives the file that createUnnamedAt made the name name in folder; a name
// that exists already is refused as Kind::exists.
Failure linkAt(const Handle& file, const Handle& folder, const std::string& name);

// Makes the file that createAt made outlive its handle: Windows creates it
// to be deleted when closed, so that a process killed meanwhile leaves
// nothing; elsewhere there is nothing to do.
Failure keepWhenClosed(const Handle& file);

// Waits, patiently, while another program holds the existing file name in
// folder so that it cannot be replaced (Windows: opened without sharing
// deletion), and says Kind::inUse when it holds it still; there is no such
// hold elsewhere. Any other trouble is left for the move to tell.
Failure waitUntilReplaceable(const Handle& folder, const std::string& name);

// Reads up to size bytes, at least one unless the end has come; done says how
// many.
Failure readSome(const Handle& file, unsigned char* buffer, size_t size, size_t& done);
// The same at offset in a regular file, without moving where readSome reads.
Failure readAt(const Handle& file, uint64_t offset, unsigned char* buffer, size_t size,
               size_t& done);
// Writes all of bytes; on failure some of them may be in the file.
Failure writeAll(const Handle& file, const unsigned char* bytes, size_t size);
// Until the data are on disk.
Failure flush(const Handle& file);

// Gives file what original has of owner, group, mode, ACL and extended
// attributes (on Windows, its attributes and DACL), and never an ACL that
// file inherited from its folder where original has none. On failure file
// may have some of them, and is to be dropped.
Failure copyMetadata(const Handle& original, const Handle& file);

// Moves name from over name to in folder, in one step. With replacing, to is an
// existing file whose place the new one takes. On failure both names are as
// they were.
Failure moveAt(const Handle& folder, const std::string& from, const std::string& to,
               bool replacing);

// Removes name from folder. Safe in a signal handler or a console control
// handler; a name that is gone already is no error.
void removeAt(NativeHandle folder, const char* name);

// Has remove called as the process is about to end by any signal that would
// end it and can be caught (on Windows: Ctrl-C, Ctrl-Break, a closed
// console), then lets it end as that signal ends it. A signal that whoever
// started the process ignores stays ignored. remove must be safe there.
void removeOnEnding(void (*remove)());

// Holds the signals that would end the process off this thread, and lets
// them in again, so that a file created between the two is recorded before
// any handler on this thread runs.
void holdSignals();
void releaseSignals();
