#include "options.h"

#include <cstdio>
#include <cstring>

#include "command_line.h"
#include "console.h"
#include "png_extension.h"
#include "process.h"
#include "report.h"

std::string optionIn(const std::string& arg)
{
    if (asksForHelp(arg))
        return "--help";
    const bool slash = slashStartsOptions && arg.size() > 1 && arg[0] == '/';
    if ((arg.empty() || arg[0] != '-') && !slash)
        return std::string();
    if (hasPngExtension(arg.c_str()))
        return std::string();
    if (!slash)
        return arg;
    return (arg.size() == 2 ? "-" : "--") + arg.substr(1);
}

int answerInfoOption(const std::string& option, const char* tool, const char* help)
{
    if (option == "--help" || option == "-h")
        writeText(stdout, help);
    else if (option == "--version")
        writeText(stdout, std::string(tool) + " " + PNGTOOLS_VERSION + "\n");
    else
        return -1;
    return standardOutputWritten(tool) ? 0 : 1;
}

int usageError(const char* tool, const std::string& reason, const char* help)
{
    const std::string said =
        reason.empty() ? std::string() : std::string(tool) + ": " + reason + "\n";
    writeText(stderr, said + std::string(help, std::strcspn(help, "\n") + 1));
    return 2;
}
