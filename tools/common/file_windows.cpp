#include "file.h"

#include <algorithm>
#include <atomic>
#include <string>

#include <windows.h>

namespace {

// Paths come in UTF-8, and only the wide calls take every name.
std::wstring wide(const std::string& text)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring result(size > 0 ? size - 1 : 0, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &result[0], size);
    return result;
}

// Not system error codes: the target is no longer the file that was read;
// a file that must be regular is not.
const DWORD fileChanged = 0xE0000001;
const DWORD notRegular = 0xE0000002;

// The temporary file of the replacement under way, for a control handler.
std::atomic<const wchar_t*> pendingTemporary(nullptr);

// The system's own words for an error, on one line.
std::string reasonFor(DWORD error)
{
    if (error == fileChanged)
        return "file changed while it was being handled";
    if (error == notRegular)
        return "not a regular file";
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string reason;
    if (text != nullptr) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
        reason.assign(size > 0 ? size - 1 : 0, '\0');
        WideCharToMultiByte(CP_UTF8, 0, text, -1, &reason[0], size, nullptr, nullptr);
        LocalFree(text);
    }
    for (char& c : reason)
        if (c == '\r' || c == '\n')
            c = ' ';
    reason.erase(reason.find_last_not_of(' ') + 1);
    return reason.empty() ? "system error " + std::to_string(error) : reason;
}

// Closes the handle on every way out, including a bad_alloc.
struct Handle {
    HANDLE handle;
    explicit Handle(HANDLE handle) : handle(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
    bool valid() const { return handle != INVALID_HANDLE_VALUE; }
    // Closes now so that an error reported by the close is not lost.
    DWORD close()
    {
        const BOOL closed = CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
        return closed ? 0 : GetLastError();
    }
};

DWORD writeAll(HANDLE file, const std::vector<unsigned char>& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr))
            return GetLastError();
        done += written;
    }
    return 0;
}

// Through a symbolic link the file it names is what gets replaced, and the
// link stays.
std::wstring linkTarget(const std::wstring& path)
{
    Handle file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    std::wstring target(MAX_PATH, L'\0');
    for (int attempt = 0; file.valid() && attempt < 2; ++attempt) {
        const DWORD size = GetFinalPathNameByHandleW(file.handle, &target[0], DWORD(target.size()), 0);
        if (size == 0)
            break;
        if (size < target.size())
            return target.substr(0, size);
        target.resize(size);
    }
    return path;
}

bool identify(HANDLE file, FileIdentity& identity)
{
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information))
        return false;
    identity.device = information.dwVolumeSerialNumber;
    identity.file = (static_cast<unsigned long long>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    return true;
}

// A new file beside the target, named .NAME.XXXXXX as on other systems. It
// may be deleted while open, so that a control handler can remove it.
DWORD createTemporary(const std::wstring& target, std::wstring& temporary, Handle& file)
{
    const size_t slash = target.find_last_of(L"\\/");
    const std::wstring dir = slash == std::wstring::npos ? L"" : target.substr(0, slash + 1);
    const std::wstring name = slash == std::wstring::npos ? target : target.substr(slash + 1);
    const wchar_t* const digits = L"0123456789abcdefghijklmnopqrstuvwxyz";
    unsigned long long seed = GetTickCount64() * 2654435761u + GetCurrentProcessId();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::wstring suffix;
        for (int i = 0; i < 6; ++i, seed = seed * 6364136223846793005u + 1442695040888963407u)
            suffix += digits[(seed >> 33) % 36];
        temporary = dir + L"." + name.substr(0, 64) + L"." + suffix;
        file.handle = CreateFileW(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file.valid())
            return 0;
        if (GetLastError() != ERROR_FILE_EXISTS)
            return GetLastError();
    }
    return ERROR_FILE_EXISTS;
}

} // namespace

std::string readFile(const char* path, std::vector<unsigned char>& bytes, bool regularOnly, FileIdentity* identity)
{
    bytes.clear();
    Handle file(CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        return reasonFor(GetLastError());
    const bool regular = GetFileType(file.handle) == FILE_TYPE_DISK;
    if (regularOnly && !regular)
        return reasonFor(notRegular);
    if (identity != nullptr && !identify(file.handle, *identity))
        return reasonFor(GetLastError());
    // The signature and header first. Then one byte more than the stated
    // size lets the read that finds the end succeed without growing the
    // buffer; pipes and files that grow still work, the buffer doubling.
    LARGE_INTEGER size;
    if (!regular || !GetFileSizeEx(file.handle, &size))
        size.QuadPart = 0;
    bytes.resize(33);
    size_t used = 0;
    for (;;) {
        if (used == bytes.size()) {
            if (used == 33 && !startsLikePng(bytes))
                break;
            bytes.resize(used == 33 && regular ? std::max<size_t>(size_t(size.QuadPart) + 1, 66) : used * 2);
        }
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - used, 1u << 30));
        DWORD read = 0;
        if (!ReadFile(file.handle, bytes.data() + used, chunk, &read, nullptr)) {
            const DWORD error = GetLastError();
            if (error == ERROR_BROKEN_PIPE)
                break;
            bytes.clear();
            return reasonFor(error);
        }
        if (read == 0)
            break;
        used += read;
    }
    bytes.resize(used);
    return std::string();
}

std::string replaceFile(const char* path, const std::vector<unsigned char>& bytes, const FileIdentity* expected)
{
    std::wstring target = wide(path);
    DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        target = linkTarget(target);
        attributes = GetFileAttributesW(target.c_str());
    }
    if (attributes == INVALID_FILE_ATTRIBUTES && GetLastError() != ERROR_FILE_NOT_FOUND)
        return reasonFor(GetLastError());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0)
        return reasonFor(ERROR_ACCESS_DENIED);

    std::wstring temporary;
    Handle file(INVALID_HANDLE_VALUE);
    DWORD error = createTemporary(target, temporary, file);
    if (error != 0)
        return reasonFor(error);
    pendingTemporary = temporary.c_str();
    error = writeAll(file.handle, bytes);
    // On disk before the move, so that a crash leaves the old file or the
    // new one, never one whose data had not yet been written.
    if (error == 0 && !FlushFileBuffers(file.handle))
        error = GetLastError();
    const DWORD closeError = file.close();
    if (error == 0)
        error = closeError;
    // Only the file that was read may be replaced; this leaves the moment
    // between this look and the move, not the whole of the work before.
    if (error == 0 && expected != nullptr) {
        Handle now(CreateFileW(target.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        FileIdentity identity;
        if (!now.valid() || !identify(now.handle, identity) || identity.device != expected->device ||
            identity.file != expected->file)
            error = fileChanged;
    }
    if (error == 0 &&
        !MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = GetLastError();
    if (error != 0)
        DeleteFileW(temporary.c_str());
    pendingTemporary = nullptr;
    return error == 0 ? std::string() : reasonFor(error);
}

void removeTemporaryFile()
{
    if (const wchar_t* temporary = pendingTemporary.load())
        DeleteFileW(temporary);
}
