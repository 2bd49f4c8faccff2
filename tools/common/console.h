#pragma once

#include <cstdio>
#include <string>

// Writes text, in UTF-8, to stream, standard output or standard error, the
// one way every message and list is printed, and flushes it at once, so that
// lines written to both streams reach one file or pipe in the order written.
// A file or a pipe gets the bytes as they are. On Windows a console gets the
// text as UTF-16, so that every letter shows whatever the console's code page
// is, and that code page is left as it was. A failure is left on the stream,
// for ferror to find.
void writeText(std::FILE* stream, const std::string& text);

// Whether stream is a terminal, or on Windows a console, that a person reads.
bool isTerminal(std::FILE* stream);
// Whether the tool has a console window to itself, as when Explorer starts it
// (a double-click, or files dropped on it): that window closes as the tool
// ends, so the tool then says what it did and waits for a key. False when it
// was started from a console, with any of its standard streams redirected,
// and on systems without such windows.
bool ownsConsoleWindow();
