#pragma once

#include <string>

#include "failure.h"

// Prints "tool: path: reason" as one line on standard error, the path quoted
// where it would not read back as it is (see quotedName).
void reportFailure(const char* tool, const char* path, const std::string& reason);

// Flushes standard output; when it fails, as on a full disk or a closed
// pipe, says so as above and returns false, so that output never lost
// passes for output given.
bool standardOutputWritten(const char* tool);

// Reports failure, if it failed, as above; returns whether it succeeded.
bool succeeded(const Failure& failure, const char* tool, const char* path);
