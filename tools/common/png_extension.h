#pragma once

#include <string>

// Whether path names a file by a ".png" name, as this system reads names.
// On POSIX systems, whether the text after the last "." of path is exactly
// ".png": only that dot counts, even when it lies in a directory name, and
// case matters. On Windows, the name is first read as Windows reads it, its
// trailing dots and spaces dropped and a short name (LONGNA~1.PNG) taken for
// the long name of the file it stands for, when there is one; the last
// component's extension is then compared whatever its case.
bool hasPngExtension(const char* path);

// Whether a name as a folder lists it ends in ".png": exactly so on POSIX
// systems, whatever the case on Windows.
bool isPngName(const std::string& name);
