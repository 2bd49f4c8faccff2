#pragma once

#include <string>

#include "image.h"

// Prints "tool: path: reason" as one line on standard error, the path quoted
// where it would not read back as it is (see quotedName).
void reportFailure(const char* tool, const char* path, const std::string& reason);

// Flushes standard output; when it fails, as on a full disk or a closed
// pipe, says so as above and returns false, so that output never lost
// passes for output given.
bool standardOutputWritten(const char* tool);

// Load and save for a command: on failure the reason is reported as above.
// Both return whether they succeeded.
bool loadOrReport(Image& image, const char* tool, const char* path);
bool saveOrReport(Image& image, const char* tool, const char* path);
