#pragma once

// What the words of a command line mean where systems read them differently.

#include <cstddef>
#include <string>

// Whether "/" starts an option as "-" does: on Windows, whose own commands
// take their options so ("/?"), and where a path can always be written with
// "\" instead; elsewhere "/" starts a path.
extern const bool slashStartsOptions;

// Where the file name in path starts: after its last "/" or "\" and, on
// Windows, after a drive's ":" ("C:s.png" names s.png in C:'s current folder).
size_t fileNameStart(const std::string& path);

// The wildcard, as typed, that the program itself expanded into arg and
// other names besides (Windows, whose shell leaves wildcards to each
// program); an empty text for an argument typed as it is, for a wildcard
// that matched arg alone, and on systems whose shell expands wildcards.
std::string wildcardMatchingSeveral(const std::string& arg);
