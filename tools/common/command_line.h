#pragma once

// What the words of a command line mean where systems read them differently.

#include <cstddef>
#include <string>
#include <vector>

// The option that arg spells as Windows' own commands take them ("/J4",
// "/Check"), as POSIX spells it ("-j4", "--check"): a single letter, or "j"
// joined to its count, after one "-", any other word after two, in lower
// case. An empty text where arg is no such option, and always elsewhere
// than on Windows, where "/" starts a path (on Windows a path can always be
// written with "\" instead).
std::string slashOption(const std::string& arg);

// Where the file name in path starts: after its last "/" or "\" and, on
// Windows, after a drive's ":" ("C:s.png" names s.png in C:'s current folder).
size_t fileNameStart(const std::string& path);

// The wildcard, as typed, that the program itself expanded into arg and
// other names besides (Windows, whose shell leaves wildcards to each
// program); an empty text for an argument typed as it is, for a wildcard
// that matched arg alone, and on systems whose shell expands wildcards.
std::string wildcardMatchingSeveral(const std::string& arg);

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

#ifdef _WIN32
// The command line in UTF-8, split and its wildcards expanded as
// startProcess says, the names found recorded for foundPath.
std::vector<std::string> commandLineArguments();
#endif
