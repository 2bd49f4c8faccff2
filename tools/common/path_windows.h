#pragma once

// Text and paths as the wide calls of Windows take them, shared by the files
// that make those calls. Windows only.

#include <string>

#include "failure.h"

// UTF-8 to UTF-16 and back; text that is not valid in one comes out with
// replacement characters in the other.
std::wstring wideText(const std::string& text);
std::string utf8Text(const std::wstring& text);

// The path as the system's own calls take it with no length limit: made
// absolute from the current folder, with Windows' rules for "." and "..",
// "/" and trailing dots and spaces applied, then written \\?\C:\... or
// \\?\UNC\server\share\.... A path in that form already, or naming a device
// (\\.\...), is kept. A path holding "*" or "?", which no name can, names
// nothing: it fails as not found, as any other missing file would.
Failure systemPath(const std::string& path, std::wstring& result);

// Whether the error of a call that just failed, as GetLastError gives it,
// means that another program holds the file: it shares it with nobody, has
// locked a part of it or has asked for it to be deleted.
bool heldByAnother(unsigned long error);
