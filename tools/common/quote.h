#pragma once

#include <string>

// A file name as it may be printed for a script or a person to read back:
// the name unchanged, unless it holds a control byte (below 0x20, or 0x7F), a
// double quote or a backslash; then the name in double quotes, with those
// bytes escaped C-style (\a \b \t \n \v \f \r \" \\, other control bytes as
// three octal digits \ooo). On Windows, where a backslash separates folders
// and is part of no name, a backslash alone leaves the name unquoted; once
// quoted, it is escaped like the rest. Bytes of 0x80 and above, the letters
// of UTF-8 names, are never escaped. A printed name thus stays on one line,
// and a name that starts with a quote cannot pass for a quoted one.
std::string quotedName(const std::string& name);
