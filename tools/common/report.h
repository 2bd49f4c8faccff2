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

// Whether failure is none; when it is one, says so as above first.
bool succeededElseReported(const Failure& failure, const char* tool, const char* path);
