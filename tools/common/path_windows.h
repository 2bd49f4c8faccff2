#pragma once

// Text and paths as the wide calls of Windows take them, shared by the files
// that make those calls. Windows only.

#include <string>
#include <vector>

#include "failure.h"

// UTF-8 to UTF-16 and back; text that is not valid in one comes out with
// replacement characters in the other.
std::wstring wideText(const std::string& text);
std::string utf8Text(const std::wstring& text);

// The path as the system's own calls take it with no length limit: made
// absolute from the current folder, with Windows' rules for "." and "..",
// "/" and trailing dots and spaces applied, then written \\?\C:\... or
// \\?\UNC\server\share\.... A path in that form already, or naming a device
// (\\.\...), is kept. A path that those rules turn into a device ("aux.png",
// "C:\x\con") fails as one. A path holding "*" or "?", which no name can,
// names nothing: it fails as not found, as any other missing file would. A
// name that a wildcard found (see commandLineArguments) is the path that
// reaches exactly the entry found, whatever those rules would make of it.
Failure systemPath(const std::string& path, std::wstring& result);

// Records name as one that a wildcard found, as the command line is read:
// exact is the \\?\ path of its folder and the name as that folder lists
// it, and severalBy the wildcard where it found other names too.
void recordFound(const std::string& name, const std::wstring& exact, const std::string& severalBy);

// Whether name is one that a wildcard found; if so, exact is the path that
// reaches the entry even where its name is a device's or ends in a dot or a
// space.
bool foundPath(const std::string& name, std::wstring& exact);

// The wildcard that found name and other names too, or "".
std::string foundBy(const std::string& name);

// Whether the error of a call that just failed, as GetLastError gives it,
// means that another program holds the file: it shares it with nobody, has
// locked a part of it or has asked for it to be deleted.
bool heldByAnother(unsigned long error);
