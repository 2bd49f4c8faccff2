#include "quote.h"

#include <algorithm>
#include <vector>

#include "file_system.h"

namespace {
// The control bytes from \a (7) to \r (13) have letters of their own.
const char controlLetters[] = "abtnvfr";

// How many bytes from at make one character that reads back as it is: a
// printable one, or a letter of UTF-8 other than its control characters
// (U+0080 to U+009F); 0 where the byte at at must be escaped instead.
size_t plainAt(const std::string& name, size_t at)
{
    const unsigned char lead = static_cast<unsigned char>(name[at]);
    if (lead < 0x80)
        return lead < 0x20 || lead == 0x7f || lead == '"' || lead == '\\' ? 0 : 1;
    const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || at + length > name.size())
        return 0;
    unsigned long point = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        const unsigned char next = static_cast<unsigned char>(name[at + i]);
        if ((next & 0xC0) != 0x80)
            return 0;
        point = point << 6 | (next & 0x3F);
    }
    const unsigned long least[] = {0, 0, 0x80, 0x800, 0x10000};
    const bool valid =
        point >= least[length] && point <= 0x10FFFF && (point < 0xD800 || point > 0xDFFF);
    return valid && point > 0x9F ? length : 0;
}
} // namespace

std::string quotedName(const std::string& name)
{
    // Which bytes must be escaped; where a backslash separates folders, no
    // name holds one, so a path with backslashes alone reads back as it is.
    std::vector<bool> escaped(name.size());
    bool quote = false;
    for (size_t at = 0; at < name.size();) {
        const size_t plain = plainAt(name, at);
        escaped[at] = plain == 0;
        quote = quote || (plain == 0 && (name[at] != '\\' || !backslashSeparatesFolders));
        at += std::max<size_t>(plain, 1);
    }
    if (!quote)
        return name;
    std::string quoted = "\"";
    for (size_t at = 0; at < name.size(); ++at) {
        const char c = name[at];
        const unsigned char byte = static_cast<unsigned char>(c);
        if (!escaped[at])
            quoted += c;
        else if (c == '"' || c == '\\')
            quoted += {'\\', c};
        else if (byte >= '\a' && byte <= '\r')
            quoted += {'\\', controlLetters[byte - '\a']};
        else
            quoted += {'\\', char('0' + (byte >> 6)), char('0' + (byte >> 3 & 7)),
                       char('0' + (byte & 7))};
    }
    return quoted + '"';
}
