#include "file_system.h"

#include <algorithm>
#include <vector>

#include <windows.h>

#include <aclapi.h>
#include <winternl.h>

#include "path_windows.h"

const bool backslashSeparatesFolders = true;

Failure closeHandle(NativeHandle native)
{
    return CloseHandle(native) ? Failure() : Failure::system(GetLastError());
}

namespace {

// Called at once after the call that failed, before anything else can
// change the error it left.
Failure lastError()
{
    const DWORD error = GetLastError();
    return heldByAnother(error) ? Failure::of(Failure::Kind::inUse, error) : Failure::system(error);
}

// The full path of an open file or folder, as it is now; empty when the
// system cannot say.
std::wstring pathOf(HANDLE handle)
{
    std::wstring path(MAX_PATH, L'\0');
    for (DWORD size;
         (size = GetFinalPathNameByHandleW(handle, &path[0], DWORD(path.size()), 0)) > 0;) {
        if (size < path.size()) {
            path.resize(size);
            return path;
        }
        path.resize(size);
    }
    // Wine's GetFinalPathNameByHandleW fails every path longer than MAX_PATH;
    // the object's own name has no such limit: \??\C:\... there,
    // \Device\HarddiskVolume1\... on Windows, both reachable as \\?\ paths.
    std::vector<ULONGLONG> buffer(16 + 32768 * sizeof(wchar_t) / sizeof(ULONGLONG));
    ULONG length = 0;
    if (NtQueryObject(handle, ObjectNameInformation, buffer.data(),
                      ULONG(buffer.size() * sizeof(ULONGLONG)), &length) != 0)
        return std::wstring();
    const UNICODE_STRING& name = *reinterpret_cast<const UNICODE_STRING*>(buffer.data());
    const std::wstring object(name.Buffer, name.Length / sizeof(wchar_t));
    return object.rfind(L"\\??\\", 0) == 0 ? L"\\\\?\\" + object.substr(4)
                                           : L"\\\\?\\GLOBALROOT" + object;
}

// A name in a folder as a path; the folder is held open without sharing
// deletion, so that it cannot be moved away or replaced meanwhile.
std::wstring pathAt(const Handle& folder, const std::string& name)
{
    return pathOf(folder.native) + L"\\" + wideText(name);
}

const DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A folder held so is neither moved away nor replaced while it is held.
const DWORD shareHeld = FILE_SHARE_READ | FILE_SHARE_WRITE;

bool missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// Another program that holds a file for a moment, as an indexer, a virus
// scanner or a sync client does, lets go of it within about a second. So
// attempt, which says whether it succeeded, is made again while held says,
// right after it failed, that another program holds the file, after pauses
// that grow from 10 ms to a second in all. Returns what the last attempt
// returned; held has seen its failure last, so GetLastError still tells it.
template <typename Attempt, typename Held> bool patiently(Attempt attempt, Held held)
{
    const DWORD patience = 1000;
    for (DWORD waited = 0, pause = 10;;
         waited += pause, pause = std::min<DWORD>(pause * 2, patience - waited)) {
        if (attempt())
            return true;
        if (!held() || waited >= patience)
            return false;
        Sleep(pause);
    }
}

// CreateFileW, patiently.
HANDLE openFile(const std::wstring& path, DWORD access, DWORD sharing, DWORD disposition,
                DWORD flags)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    patiently(
        [&] {
            return (file = CreateFileW(path.c_str(), access, sharing, nullptr, disposition, flags,
                                       nullptr)) != INVALID_HANDLE_VALUE;
        },
        [] { return heldByAnother(GetLastError()); });
    return file;
}

// Marks the file to be deleted as its last handle closes, or no longer.
bool deleteWhenClosed(const Handle& file, bool deleted)
{
    FILE_DISPOSITION_INFO disposition = {deleted};
    return SetFileInformationByHandle(file.native, FileDispositionInfo, &disposition,
                                      sizeof disposition);
}

} // namespace

std::string systemReason(unsigned long code)
{
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, DWORD(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string reason;
    if (text != nullptr) {
        reason = utf8Text(text);
        LocalFree(text);
    }
    for (char& c : reason)
        if (c == '\r' || c == '\n')
            c = ' ';
    reason.erase(reason.find_last_not_of(' ') + 1);
    return reason.empty() ? "system error " + std::to_string(code) : reason;
}

namespace {
// openFolderOf for the path full, as the system's own calls take it.
Failure openFolderOfPath(std::wstring full, Handle& folder, std::string& name)
{
    // Through a symbolic link the file it names is what gets replaced, and
    // the link stays.
    const DWORD attributes = GetFileAttributesW(full.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        Handle target(openFile(full, 0, shareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
        if (target.valid())
            full = pathOf(target.native);
    }
    const size_t slash = full.find_last_of(L"\\/");
    const std::wstring last = full.substr(slash + 1);
    if (slash == std::wstring::npos || last.empty() || last == L"." || last == L"..")
        return Failure::of(Failure::Kind::folder);
    folder = Handle(openFile(full.substr(0, slash + 1), FILE_LIST_DIRECTORY, shareHeld,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    if (!folder.valid())
        return lastError();
    // The name as the folder holds it, its case and its long name, whatever
    // was typed, so that a rewrite replaces the file under its own name and
    // one file named two ways is one. A name not there yet stays as typed;
    // one with a wildcard, which no name holds, is no pattern here.
    name = utf8Text(last);
    WIN32_FIND_DATAW entry;
    const HANDLE search = last.find_first_of(L"*?") != std::wstring::npos
                              ? INVALID_HANDLE_VALUE
                              : FindFirstFileW(pathAt(folder, name).c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE && FindClose(search))
        name = utf8Text(entry.cFileName);
    return Failure();
}

// Whether the open folder is one, and no junction or symbolic link to one.
bool plainFolder(const Handle& folder)
{
    BY_HANDLE_FILE_INFORMATION information;
    return GetFileInformationByHandle(folder.native, &information) &&
           (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}
} // namespace

Failure openFolderOf(const std::string& path, Handle& folder, std::string& name)
{
    std::wstring full;
    if (const Failure failure = systemPath(path, full); failure.failed())
        return failure;
    return openFolderOfPath(full, folder, name);
}

Failure openFolderOf(const Handle& start, const std::string& path, Handle& folder,
                     std::string& name)
{
    return openFolderOfPath(pathAt(start, path), folder, name);
}

Failure openFolderPath(const std::string& path, Handle& folder)
{
    std::wstring full;
    if (const Failure failure = systemPath(path, full); failure.failed())
        return failure;
    folder = Handle(
        openFile(full, FILE_LIST_DIRECTORY, shareHeld, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    if (!folder.valid())
        return lastError();
    FileStatus status;
    if (const Failure failure = statusOf(folder, status); failure.failed())
        return failure;
    return status.type == FileStatus::Type::folder ? Failure()
                                                   : Failure::of(Failure::Kind::notFolder);
}

Failure openSubfolderAt(const Handle& folder, const std::string& name, Handle& subfolder)
{
    subfolder = Handle(openFile(pathAt(folder, name), FILE_LIST_DIRECTORY, shareHeld, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
    if (!subfolder.valid())
        return lastError();
    return plainFolder(subfolder) ? Failure() : Failure::system(ERROR_DIRECTORY);
}

Failure listFolder(const Handle& folder, std::vector<FolderEntry>& entries)
{
    entries.clear();
    WIN32_FIND_DATAW found;
    const HANDLE search =
        FindFirstFileExW(pathAt(folder, "*").c_str(), FindExInfoBasic, &found,
                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? Failure() : lastError();
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const DWORD attributes = found.dwFileAttributes;
        entries.push_back({utf8Text(name), (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0
                                               ? FolderEntry::Type::link
                                           : (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                                               ? FolderEntry::Type::folder
                                               : FolderEntry::Type::other});
    } while (FindNextFileW(search, &found));
    const DWORD error = GetLastError();
    FindClose(search);
    return error == ERROR_NO_MORE_FILES ? Failure() : Failure::system(error);
}

Failure statusOf(const Handle& file, FileStatus& status)
{
    status = FileStatus();
    BY_HANDLE_FILE_INFORMATION information;
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandle(file.native, &information) ||
        !GetFileInformationByHandleEx(file.native, FileBasicInfo, &basic, sizeof basic))
        return lastError();
    const DWORD attributes = information.dwFileAttributes;
    status.type = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileStatus::Type::folder
                  : (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
                          GetFileType(file.native) != FILE_TYPE_DISK
                      ? FileStatus::Type::other
                      : FileStatus::Type::regular;
    status.device = information.dwVolumeSerialNumber;
    status.file = (uint64_t(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    status.size = (uint64_t(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    status.modified = {basic.LastWriteTime.QuadPart, 0};
    status.changed = {basic.ChangeTime.QuadPart, 0};
    status.readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    return Failure();
}

Failure statusAt(const Handle& folder, const std::string& name, FileStatus& status,
                 FileStatus* folderStatus)
{
    status = FileStatus();
    if (folderStatus != nullptr)
        if (const Failure failure = statusOf(folder, *folderStatus); failure.failed())
            return failure;
    Handle file(openFile(pathAt(folder, name), FILE_READ_ATTRIBUTES, shareAll, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS));
    if (!file.valid())
        return missing(GetLastError()) ? Failure() : lastError();
    return statusOf(file, status);
}

Failure openAt(const Handle& folder, const std::string& name, Handle& file)
{
    // Others may go on reading, writing and even replacing it meanwhile; the
    // rewrite notices.
    file = Handle(openFile(pathAt(folder, name), GENERIC_READ, shareAll, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT));
    return file.valid() ? Failure() : lastError();
}

Failure openStandardInput(Handle& input)
{
    HANDLE duplicate = INVALID_HANDLE_VALUE;
    const HANDLE self = GetCurrentProcess();
    if (!DuplicateHandle(self, GetStdHandle(STD_INPUT_HANDLE), self, &duplicate, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return lastError();
    input = Handle(duplicate);
    return Failure();
}

Failure openToReadAt(const Handle& folder, const std::string& name, Handle& file)
{
    // A folder opens too, so that it is refused as one rather than with
    // the "access denied" that opening it as a file would give. The folder
    // is held without sharing deletion, so the name is still the one that
    // openFolderOf found, a link there already followed.
    file = Handle(openFile(pathAt(folder, name), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    return file.valid() ? Failure() : lastError();
}

Failure createAt(const Handle& folder, const std::string& name, bool, Handle& file)
{
    // Deletable while open, so that a control handler can remove it.
    file = Handle(openFile(pathAt(folder, name), GENERIC_WRITE | WRITE_DAC | DELETE,
                           FILE_SHARE_DELETE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
    if (!file.valid())
        return GetLastError() == ERROR_FILE_EXISTS ? Failure::of(Failure::Kind::exists)
                                                   : lastError();
    // Gone with its handle, so that a process killed or crashed meanwhile
    // leaves nothing. Where the file system refuses, it stays a named
    // temporary file, which every failure and Ctrl-C still removes. Deleting
    // on close with FILE_FLAG_DELETE_ON_CLOSE could not be undone before the
    // move on every Windows.
    deleteWhenClosed(file, true);
    return Failure();
}

Failure createUnnamedAt(const Handle&, bool, Handle&)
{
    return Failure::system(ERROR_NOT_SUPPORTED);
}

Failure linkAt(const Handle&, const Handle&, const std::string&)
{
    return Failure::system(ERROR_NOT_SUPPORTED);
}

Failure waitUntilReplaceable(const Handle& folder, const std::string& name)
{
    const Handle held(openFile(pathAt(folder, name), DELETE, shareAll, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS));
    return held.valid() || !heldByAnother(GetLastError()) ? Failure() : lastError();
}

Failure keepWhenClosed(const Handle& file)
{
    return deleteWhenClosed(file, false) ? Failure() : lastError();
}

Failure readSome(const Handle& file, unsigned char* buffer, size_t size, size_t& done)
{
    DWORD read = 0;
    done = 0;
    if (!ReadFile(file.native, buffer, DWORD(std::min<size_t>(size, 1u << 30)), &read, nullptr))
        return GetLastError() == ERROR_BROKEN_PIPE ? Failure() : lastError();
    done = read;
    return Failure();
}

Failure readAt(const Handle& file, uint64_t offset, unsigned char* buffer, size_t size,
               size_t& done)
{
    // A read at an offset moves the file's position too, unless the file was
    // opened for overlapped reads: it is put back.
    LARGE_INTEGER position = {};
    if (!SetFilePointerEx(file.native, position, &position, FILE_CURRENT))
        return lastError();
    OVERLAPPED at = {};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD read = 0;
    done = 0;
    const bool ended =
        !ReadFile(file.native, buffer, DWORD(std::min<size_t>(size, 1u << 30)), &read, &at);
    const Failure failure = ended && GetLastError() != ERROR_HANDLE_EOF ? lastError() : Failure();
    if (!SetFilePointerEx(file.native, position, nullptr, FILE_BEGIN))
        return lastError();
    done = ended ? 0 : read;
    return failure;
}

Failure writeAll(const Handle& file, const unsigned char* bytes, size_t size)
{
    for (size_t done = 0; done < size;) {
        DWORD written = 0;
        if (!WriteFile(file.native, bytes + done, DWORD(std::min<size_t>(size - done, 1u << 30)),
                       &written, nullptr))
            return lastError();
        done += written;
    }
    return Failure();
}

Failure flush(const Handle& file)
{
    return FlushFileBuffers(file.native) ? Failure() : lastError();
}

// The attributes (hidden, system, archive and the like) and the access
// control list, whether explicit or inherited from the folder, travel
// here; the owner stays the caller's, as a copy's would. ReplaceFileW does
// much the same as it moves the new file into place, and keeps streams and
// the creation time besides, but not everywhere: this does not depend on it.
Failure copyMetadata(const Handle& original, const Handle& file)
{
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(original.native, FileBasicInfo, &basic, sizeof basic))
        return lastError();
    FILE_BASIC_INFO attributes = {};
    attributes.FileAttributes = basic.FileAttributes & ~DWORD(FILE_ATTRIBUTE_READONLY);
    if (!SetFileInformationByHandle(file.native, FileBasicInfo, &attributes, sizeof attributes))
        return Failure::of(Failure::Kind::metadataLost, GetLastError());

    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error = GetSecurityInfo(original.native, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, &acl, nullptr, &descriptor);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (error == ERROR_SUCCESS && GetSecurityDescriptorControl(descriptor, &control, &revision)) {
        const DWORD inheritance = (control & SE_DACL_PROTECTED) != 0
                                      ? PROTECTED_DACL_SECURITY_INFORMATION
                                      : UNPROTECTED_DACL_SECURITY_INFORMATION;
        error =
            SetSecurityInfo(file.native, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | inheritance,
                            nullptr, nullptr, acl, nullptr);
    }
    LocalFree(descriptor);
    return error == ERROR_SUCCESS ? Failure() : Failure::of(Failure::Kind::metadataLost, error);
}

Failure moveAt(const Handle& folder, const std::string& from, const std::string& to, bool replacing)
{
    const std::wstring source = pathAt(folder, from);
    const std::wstring target = pathAt(folder, to);
    Failure failure;
    // While the move waits for another program, the file to be moved is
    // marked to be deleted should the process end meanwhile, and unmarked
    // just before each try.
    Handle waiting;
    const bool moved = patiently(
        [&] {
            if (waiting.valid() && deleteWhenClosed(waiting, false))
                waiting.close();
            BOOL done = replacing ? ReplaceFileW(target.c_str(), source.c_str(), nullptr, 0,
                                                 nullptr, nullptr)
                                  : MoveFileExW(source.c_str(), target.c_str(),
                                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
            // Wine's ReplaceFileW garbles a name of its own on long paths;
            // the move replaces the file in one step too, and copyMetadata
            // gave the new file the old one's attributes and ACL already.
            if (!done && replacing && GetLastError() == ERROR_INVALID_NAME)
                done = MoveFileExW(source.c_str(), target.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
            return done != FALSE;
        },
        [&] {
            failure = lastError();
            // ReplaceFileW says only that the old file could not be removed
            // when another program holds it without sharing deletion; a look
            // of our own at it tells that case.
            const Handle held(CreateFileW(target.c_str(), DELETE, shareAll, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
            const DWORD error = GetLastError();
            if (!held.valid() && heldByAnother(error))
                failure = Failure::of(Failure::Kind::inUse, error);
            if (failure.kind != Failure::Kind::inUse)
                return false;
            waiting = Handle(CreateFileW(source.c_str(), DELETE, shareAll, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
            deleteWhenClosed(waiting, true);
            return true;
        });
    return moved ? Failure() : failure;
}

void removeAt(NativeHandle folder, const char* name)
{
    // The console control handler runs on a thread of its own, where
    // anything may be called.
    DeleteFileW((pathOf(folder) + L"\\" + wideText(name)).c_str());
}

namespace {
void (*removeAtEnd)() = nullptr;

BOOL WINAPI endOnControl(DWORD)
{
    removeAtEnd();
    return FALSE; // and on to the handler that ends the process
}
} // namespace

void removeOnEnding(void (*remove)())
{
    removeAtEnd = remove;
    SetConsoleCtrlHandler(endOnControl, TRUE);
}

// A console control handler runs on a thread of its own and waits for a
// file being created, so there is nothing to hold off here.
void holdSignals() { }
void releaseSignals() { }
