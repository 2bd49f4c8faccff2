#pragma once

#include <string>
#include <vector>

// Sets the process up alike in both tools, first thing in main, and returns
// the command line as the user typed it, program name first, each argument
// in UTF-8: on POSIX the bytes of argv unchanged; on Windows the UTF-16
// command line converted once, so that names outside the ANSI code page
// survive. File calls take these strings as they are.
//
// From then on a write past a file-size limit fails like any other write
// instead of ending the process, and an interrupt, hang-up or termination
// during a replacement removes the temporary file before the process ends
// as that signal ends it (on Windows: Ctrl-C, Ctrl-Break, a closed console).
std::vector<std::string> startProcess(int argc, char** argv);
