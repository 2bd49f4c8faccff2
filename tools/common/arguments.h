#pragma once

#include <string>
#include <vector>

// The command line as the user typed it, program name first, each argument
// in UTF-8: on POSIX the bytes of argv unchanged; on Windows the UTF-16
// command line converted once, so that names outside the ANSI code page
// survive. File calls take these strings as they are.
std::vector<std::string> commandLine(int argc, char** argv);
