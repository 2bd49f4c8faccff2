#include "options.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "command_line.h"
#include "console.h"
#include "process.h"
#include "quote.h"
#include "report.h"

std::string optionIn(const std::string& arg)
{
    if (asksForHelp(arg))
        return "--help";
    const std::string slash = slashOption(arg);
    if ((arg.empty() || arg[0] != '-') && slash.empty())
        return std::string();
    if (hasPngExtension(arg.c_str()))
        return std::string();
    return slash.empty() ? arg : slash;
}

std::optional<int> answerInfoOption(const std::string& option, const char* tool, const char* help)
{
    if (option == "--help" || option == "-h")
        writeText(stdout, help);
    else if (option == "--version")
        writeText(stdout, std::string(tool) + " " + PNGTOOLS_VERSION + "\n");
    else
        return std::nullopt;
    return standardOutputWritten(tool) ? 0 : 1;
}

int usageError(const char* tool, const std::string& reason, const char* help)
{
    const std::string said =
        reason.empty() ? std::string() : std::string(tool) + ": " + reason + "\n";
    writeText(stderr, said + std::string(help, std::strcspn(help, "\n") + 1));
    return 2;
}

bool takesValue(const std::string& option, const std::string& name,
                const std::vector<std::string>& args, size_t& i, std::string& value)
{
    if (option == name) {
        value = i + 1 < args.size() ? args[++i] : std::string();
        return true;
    }
    const bool shortName = name.size() == 2;
    if (option.rfind(name + "=", 0) == 0 && !shortName)
        value = option.substr(name.size() + 1);
    else if (option.rfind(name, 0) == 0 && shortName)
        value = option.substr(name.size());
    else
        return false;
    return true;
}

namespace {
bool parseMemorySize(const std::string& text, uint64_t& bytes)
{
    size_t end = 0;
    while (end < text.size() &&
           (std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == '.'))
        ++end;
    const std::string number = text.substr(0, end);
    if (number.empty() || number == "." || number.find('.') != number.rfind('.') ||
        end + 1 < text.size())
        return false;
    const std::string units = "KMGT";
    const size_t unit =
        end == text.size()
            ? 0
            : units.find(char(std::toupper(static_cast<unsigned char>(text[end])))) + 1;
    if (unit == 0 && end < text.size())
        return false;
    // Digits of any length: past what a double holds they read as infinity
    // or 0, and are refused below, never thrown.
    const double value = std::strtod(number.c_str(), nullptr) * std::pow(1024.0, double(unit));
    if (value < 1 || value >= 1.8e19)
        return false;
    bytes = uint64_t(value);
    return true;
}
} // namespace

std::string readMemorySize(const std::string& text, uint64_t& bytes)
{
    if (parseMemorySize(text, bytes))
        return std::string();
    return "the memory size must be a number of bytes, with K, M, G or T after it for powers of "
           "1024: " +
           quotedName(text);
}
