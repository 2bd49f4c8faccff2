#pragma once

#include <string>

#include "image.h"

// Prints "tool: path: reason" as one line on standard error.
void reportFailure(const char* tool, const char* path, const std::string& reason);

// Load and save for a command: on failure the reason is reported as above.
// Both return whether they succeeded.
bool loadOrReport(Image& image, const char* tool, const char* path);
bool saveOrReport(Image& image, const char* tool, const char* path);
