#include "quote.h"

#include <algorithm>

#include "file_system.h"

namespace {
// The control bytes from \a (7) to \r (13) have letters of their own.
const char controlLetters[] = "abtnvfr";

bool needsEscape(char c)
{
    const unsigned char byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f || c == '"' || c == '\\';
}

// Where a backslash separates folders, no name holds one, so a path with
// backslashes alone reads back as it is.
bool needsQuotes(char c) { return needsEscape(c) && (c != '\\' || !backslashSeparatesFolders); }
} // namespace

std::string quotedName(const std::string& name)
{
    if (std::none_of(name.begin(), name.end(), needsQuotes))
        return name;
    std::string quoted = "\"";
    for (const char c : name) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (!needsEscape(c))
            quoted += c;
        else if (c == '"' || c == '\\')
            quoted += {'\\', c};
        else if (byte >= '\a' && byte <= '\r')
            quoted += {'\\', controlLetters[byte - '\a']};
        else
            quoted += {'\\', char('0' + (byte >> 6)), char('0' + (byte >> 3 & 7)), char('0' + (byte & 7))};
    }
    return quoted + '"';
}
