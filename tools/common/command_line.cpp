#include "command_line.h"

#include <cstring>

// What a POSIX system makes of a command line's words; Windows reads them
// its own way (command_line_windows.cpp).

#ifndef _WIN32
std::string slashOption(const std::string&) { return std::string(); }

size_t fileNameStart(const std::string& path)
{
    const size_t separator = path.find_last_of("/\\");
    return separator == std::string::npos ? 0 : separator + 1;
}

std::string wildcardMatchingSeveral(const std::string&) { return std::string(); }

bool hasPngExtension(const char* path)
{
    const char* dot = std::strrchr(path, '.');
    return dot != nullptr && std::strcmp(dot, ".png") == 0;
}

// A name holds no folder part for the last dot to lie in.
bool isPngName(const std::string& name) { return hasPngExtension(name.c_str()); }
#endif
