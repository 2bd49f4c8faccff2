#pragma once

#include <string>

// A file name as it may be printed for a script or a person to read back:
// the name unchanged, unless it holds a control character (below 0x20, 0x7F,
// or U+0080 to U+009F in UTF-8), a byte that is no part of valid UTF-8, a
// double quote or a backslash; then the name in double quotes, with those
// bytes escaped C-style (\a \b \t \n \v \f \r \" \\, other bytes as three
// octal digits \ooo). On Windows, where a backslash separates folders and is
// part of no name, a backslash alone leaves the name unquoted; once quoted,
// it is escaped like the rest. The letters of UTF-8 names are never escaped.
// A printed name thus stays on one line, and a name that starts with a quote
// cannot pass for a quoted one.
std::string quotedName(const std::string& name);
