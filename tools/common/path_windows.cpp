#include "path_windows.h"

#include <map>

#include <windows.h>

#include <winternl.h>

extern "C" NTSTATUS NTAPI RtlGetLastNtStatus(void);

namespace {
// A name that a wildcard found: the path that reaches exactly that entry of
// its folder, and the wildcard where it found other names too.
struct Found {
    std::wstring exact;
    std::string severalBy;
};

// Filled while the command line is read, before any other thread starts, and
// only read from then on.
std::map<std::string, Found> found;
} // namespace

void recordFound(const std::string& name, const std::wstring& exact, const std::string& severalBy)
{
    found[name] = Found{exact, severalBy};
}

bool foundPath(const std::string& name, std::wstring& exact)
{
    const auto entry = found.find(name);
    if (entry == found.end())
        return false;
    exact = entry->second.exact;
    return true;
}

std::string foundBy(const std::string& name)
{
    const auto entry = found.find(name);
    return entry == found.end() ? std::string() : entry->second.severalBy;
}

std::wstring wideText(const std::string& text)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring result(size_t(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &result[0], size);
    return result;
}

std::string utf8Text(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string result(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &result[0], size, nullptr,
                        nullptr);
    return result;
}

Failure systemPath(const std::string& path, std::wstring& result)
{
    if (foundPath(path, result))
        return Failure();
    const std::wstring given = wideText(path);
    if (given.rfind(L"\\\\?\\", 0) == 0) {
        result = given;
        return given.find_first_of(L"*?", 4) == std::wstring::npos
                   ? Failure()
                   : Failure::system(ERROR_FILE_NOT_FOUND);
    }
    if (given.find_first_of(L"*?") != std::wstring::npos)
        return Failure::system(ERROR_FILE_NOT_FOUND);
    std::wstring full(MAX_PATH, L'\0');
    for (DWORD size; (size = GetFullPathNameW(given.c_str(), DWORD(full.size()), &full[0],
                                              nullptr)) >= full.size();)
        full.resize(size);
    full.resize(wcslen(full.c_str()));
    if (full.empty())
        return Failure::system(given.empty() ? ERROR_PATH_NOT_FOUND : GetLastError());
    // Windows drops them from the last name here, wine not always.
    const size_t kept = full.find_last_not_of(L". ");
    if (kept != std::wstring::npos && kept >= full.find_last_of(L"\\/") + 1)
        full.erase(kept + 1);
    if (full.rfind(L"\\\\.\\", 0) == 0 && given.rfind(L"\\\\.\\", 0) != 0)
        return Failure::of(Failure::Kind::device);
    if (full.rfind(L"\\\\?\\", 0) == 0 || full.rfind(L"\\\\.\\", 0) == 0)
        result = full;
    else if (full.rfind(L"\\\\", 0) == 0)
        result = L"\\\\?\\UNC\\" + full.substr(2);
    else
        result = L"\\\\?\\" + full;
    return Failure();
}

bool heldByAnother(unsigned long error)
{
    // A file pending deletion is refused with "access denied"; only the
    // status underneath tells it from a file the caller may not open.
    const NTSTATUS deletePending = NTSTATUS(0xC0000056);
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_DELETE_PENDING ||
           (error == ERROR_ACCESS_DENIED && RtlGetLastNtStatus() == deletePending);
}
