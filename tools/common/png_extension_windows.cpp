#include "png_extension.h"

#include <string>

#include <windows.h>

#include "path_windows.h"

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
