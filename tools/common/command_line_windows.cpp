#include "command_line.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include <windows.h>

#include "path_windows.h"

std::string slashOption(const std::string& arg)
{
    if (arg.size() < 2 || arg[0] != '/')
        return std::string();
    // The name in any case, and a value joined by "=" as typed: a file's
    // name keeps its case for messages and case-sensitive folders.
    std::string word = arg.substr(1);
    for (size_t at = 0; at < word.size() && word[at] != '='; ++at)
        word[at] = char(std::tolower(static_cast<unsigned char>(word[at])));
    const bool jobs =
        word[0] == 'j' && word.find_first_not_of("0123456789", 1) == std::string::npos;
    return (word.size() == 1 || jobs ? "-" : "--") + word;
}

namespace {
// One argument of the command line, and whether a "*" or "?" in it stood
// outside double quotes: only then is it a pattern.
struct Argument {
    std::wstring text;
    bool wild = false;
};

bool blank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Splits the command line as the Microsoft C runtime documents it: blanks
// outside double quotes separate arguments; 2n backslashes before a double
// quote give n backslashes and the quote opens or closes a quoted part, 2n+1
// give n and a literal quote; other backslashes are literal; within quotes,
// "" gives a literal quote and the quoted part goes on. The program's name
// comes first, up to the first blank or between quotes, with no escapes.
std::vector<Argument> splitCommandLine(const wchar_t* p)
{
    std::vector<Argument> arguments(1);
    const bool quotedName = *p == L'"';
    for (p += quotedName; *p != L'\0' && (quotedName ? *p != L'"' : !blank(*p)); ++p)
        arguments[0].text += *p;
    p += *p == L'"';
    for (;;) {
        while (blank(*p))
            ++p;
        if (*p == L'\0')
            return arguments;
        Argument argument;
        for (bool quoted = false; *p != L'\0' && (quoted || !blank(*p));) {
            if (*p == L'\\') {
                size_t backslashes = 0;
                for (; *p == L'\\'; ++p)
                    ++backslashes;
                argument.text.append(*p == L'"' ? backslashes / 2 : backslashes, L'\\');
                if (*p == L'"' && backslashes % 2 == 1)
                    argument.text += *p++;
            } else if (*p == L'"') {
                if (quoted && p[1] == L'"')
                    argument.text += *++p;
                else
                    quoted = !quoted;
                ++p;
            } else {
                argument.wild = argument.wild || (!quoted && (*p == L'*' || *p == L'?'));
                argument.text += *p++;
            }
        }
        arguments.push_back(argument);
    }
}

// The length of the character at text[i]: two for a surrogate pair.
size_t characterAt(const std::wstring& text, size_t i)
{
    return IS_HIGH_SURROGATE(text[i]) && i + 1 < text.size() && IS_LOW_SURROGATE(text[i + 1]) ? 2
                                                                                              : 1;
}

// Whether name matches pattern, both upper-cased alike: "*" stands for any
// run of characters, "?" for exactly one.
bool matches(const std::wstring& pattern, const std::wstring& name)
{
    size_t p = 0;
    size_t n = 0;
    size_t star = std::wstring::npos;
    size_t resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && pattern[p] == L'?') {
            ++p;
            n += characterAt(name, n);
        } else if (p < pattern.size() && pattern[p] == name[n]) {
            ++p;
            ++n;
        } else if (star != std::wstring::npos) {
            p = star + 1;
            n = resume += characterAt(name, resume);
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*')
        ++p;
    return p == pattern.size();
}

// Names are compared as the file system compares them, whatever their case.
std::wstring upper(const std::wstring& text)
{
    std::wstring result(text);
    LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(), int(text.size()), &result[0],
                  int(result.size()), nullptr, nullptr, 0);
    return result;
}

// What the pattern names, as cmd.exe leaves it to each program: the entries
// of its folder whose names, as Windows reads them (without trailing dots and
// spaces, which other systems may store), match its last component, each
// written with the pattern's folder part as typed, in the order of the names
// whatever their case, and recorded as found. None where that component has
// no wildcard or the folder cannot be read.
std::vector<std::wstring> expand(const std::wstring& pattern)
{
    const size_t cut = pattern.find_last_of(L"\\/:") + 1;
    const std::wstring folder = pattern.substr(0, cut);
    const std::wstring last = upper(pattern.substr(cut));
    std::wstring search;
    std::vector<std::wstring> names;
    if (last.find_first_of(L"*?") == std::wstring::npos ||
        systemPath(utf8Text(folder.empty() ? L"." : folder), search).failed())
        return names;
    if (search.back() != L'\\')
        search += L'\\';
    WIN32_FIND_DATAW entry;
    const HANDLE find = FindFirstFileExW((search + L"*").c_str(), FindExInfoBasic, &entry,
                                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = entry.cFileName;
        // "." and ".." read as nothing.
        const std::wstring read = name.substr(0, name.find_last_not_of(L". ") + 1);
        if (!read.empty() && matches(last, upper(read)))
            names.push_back(name);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
        const int order =
            CompareStringOrdinal(a.data(), int(a.size()), b.data(), int(b.size()), TRUE);
        return order != CSTR_EQUAL ? order == CSTR_LESS_THAN : a < b;
    });
    for (std::wstring& name : names) {
        recordFound(utf8Text(folder + name), search + name,
                    names.size() > 1 ? utf8Text(pattern) : std::string());
        name = folder + name;
    }
    return names;
}
} // namespace

size_t fileNameStart(const std::string& path)
{
    const size_t separator = path.find_last_of("/\\");
    const size_t drive =
        path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0])) ? 2
                                                                                                : 0;
    return separator == std::string::npos ? drive : std::max(separator + 1, drive);
}

std::string wildcardMatchingSeveral(const std::string& arg) { return foundBy(arg); }

std::vector<std::string> commandLineArguments()
{
    std::vector<std::string> arguments;
    for (const Argument& argument : splitCommandLine(GetCommandLineW())) {
        const std::vector<std::wstring> names =
            argument.wild ? expand(argument.text) : std::vector<std::wstring>();
        if (names.empty())
            arguments.push_back(utf8Text(argument.text));
        for (const std::wstring& name : names)
            arguments.push_back(utf8Text(name));
    }
    return arguments;
}

bool hasPngExtension(const char* path)
{
    // A name that a wildcard found is the long name as its folder lists it.
    // A name with a wildcard, which matched nothing, or that Windows takes
    // for a device, is judged as it stands.
    std::wstring full;
    const bool found = foundPath(path, full);
    const bool asTyped = !found && systemPath(path, full).failed();
    if (asTyped)
        full = wideText(path);
    full.erase(full.find_last_not_of(L". ") + 1);
    // A short name may end in ".PNG" for a long one that does not. Wine
    // takes no \\?\ path here, and one short enough needs none.
    const bool shortDrivePath = full.rfind(L"\\\\?\\", 0) == 0 &&
                                full.rfind(L"\\\\?\\UNC\\", 0) != 0 && full.size() < MAX_PATH + 4;
    std::wstring stored(full.size() + 1, L'\0');
    const DWORD size = found || asTyped ? 0
                                        : GetLongPathNameW(full.c_str() + (shortDrivePath ? 4 : 0),
                                                           &stored[0], DWORD(stored.size()));
    if (size > 0 && size < stored.size())
        full = stored.substr(0, size);
    // A separator found last means a name without a dot, or none at all.
    const size_t dot = full.find_last_of(L"./\\");
    return dot != std::wstring::npos &&
           CompareStringOrdinal(full.c_str() + dot, -1, L".png", -1, TRUE) == CSTR_EQUAL;
}

bool isPngName(const std::string& name)
{
    return name.size() >= 4 && CompareStringOrdinal(wideText(name.substr(name.size() - 4)).c_str(),
                                                    -1, L".png", -1, TRUE) == CSTR_EQUAL;
}
