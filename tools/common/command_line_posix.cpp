#include "command_line.h"

const bool slashStartsOptions = false;

size_t fileNameStart(const std::string& path)
{
    const size_t separator = path.find_last_of("/\\");
    return separator == std::string::npos ? 0 : separator + 1;
}

std::string wildcardMatchingSeveral(const std::string&) { return std::string(); }
