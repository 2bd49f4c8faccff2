#include "console.h"

void writeText(std::FILE* stream, const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

bool ownsConsoleWindow() { return false; }
