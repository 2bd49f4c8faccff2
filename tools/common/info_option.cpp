#include "info_option.h"

#include <cstdio>
#include <cstring>

bool printInfoOption(const char* arg, const char* tool, const char* help)
{
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
        std::fputs(help, stdout);
        return true;
    }
    if (std::strcmp(arg, "--version") == 0) {
        std::printf("%s %s\n", tool, PNGTOOLS_VERSION);
        return true;
    }
    return false;
}
