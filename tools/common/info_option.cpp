#include "info_option.h"

#include <cstdio>
#include <cstring>

#include "report.h"

int answerInfoOption(const char* arg, const char* tool, const char* help)
{
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0)
        std::fputs(help, stdout);
    else if (std::strcmp(arg, "--version") == 0)
        std::printf("%s %s\n", tool, PNGTOOLS_VERSION);
    else
        return -1;
    return standardOutputWritten(tool) ? 0 : 1;
}
