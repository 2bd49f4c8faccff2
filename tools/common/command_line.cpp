#include "command_line.h"

#include <algorithm>
#include <cctype>
#include <cstring>

size_t fileNameStart(const std::string& path)
{
    const size_t separator = path.find_last_of("/\\");
    // Only where a slash starts options is "C:" a drive.
    const size_t drive = slashStartsOptions && path.size() >= 2 && path[1] == ':' &&
                                 std::isalpha(static_cast<unsigned char>(path[0]))
                             ? 2
                             : 0;
    return separator == std::string::npos ? drive : std::max(separator + 1, drive);
}

#ifndef _WIN32
const bool slashStartsOptions = false;

std::string wildcardMatchingSeveral(const std::string&) { return std::string(); }

bool hasPngExtension(const char* path)
{
    const char* dot = std::strrchr(path, '.');
    return dot != nullptr && std::strcmp(dot, ".png") == 0;
}

bool isPngName(const std::string& name)
{
    return name.size() >= 4 && name.compare(name.size() - 4, 4, ".png") == 0;
}
#endif
