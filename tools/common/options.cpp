#include "options.h"

#include <cctype>
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
    // As Windows' own commands take them, whatever the case; "/j" joined to
    // its count is "-j" so joined.
    std::string word = arg.substr(1);
    for (char& c : word)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    const bool jobs =
        word[0] == 'j' && word.find_first_not_of("0123456789", 1) == std::string::npos;
    return (word.size() == 1 || jobs ? "-" : "--") + word;
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
