#include "info_option.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "console.h"
#include "process.h"
#include "report.h"

int answerInfoOption(const char* arg, const char* tool, const char* help)
{
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0 || asksForHelp(arg))
        writeText(stdout, help);
    else if (std::strcmp(arg, "--version") == 0)
        writeText(stdout, std::string(tool) + " " + PNGTOOLS_VERSION + "\n");
    else
        return -1;
    return standardOutputWritten(tool) ? 0 : 1;
}
