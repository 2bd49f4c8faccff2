#include "console.h"

#include <unistd.h>

void writeText(std::FILE* stream, const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

bool isTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

bool ownsConsoleWindow() { return false; }
