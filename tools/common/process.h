#pragma once

#include <string>
#include <vector>

// Sets the process up alike in both tools, first thing in main, and returns
// the command line as the user typed it, program name first, each argument
// in UTF-8: on POSIX the bytes of argv unchanged; on Windows the UTF-16
// command line converted once, so that names outside the ANSI code page
// survive. File calls take these strings as they are. On Windows, where
// the shell leaves that to each program, an argument whose last component
// holds "*" or "?" outside double quotes stands for the names in its folder
// that match it, whatever their case, sorted, each written with the
// argument's folder part as typed; an argument that matches nothing, or whose
// wildcards were quoted, stays as it is.
//
// A standard stream that was closed is held from then on by a stand-in that
// no file the tool opens can replace, and on which every read or write still
// fails as it would have. A write past a file-size limit fails like any other write
// instead of ending the process. (The handler that removes a temporary file
// when a signal ends the process is the file layer's, set as it makes its
// first one.)
// Where the address space is bounded, threads started later reserve no more
// of it than threadAddressSpace each.
std::vector<std::string> startProcess(int argc, char** argv);

// Whether arg asks for help in this system's own way, as "--help" does: "/?"
// on Windows; nothing elsewhere, where "/?" is a path.
bool asksForHelp(const std::string& arg);
