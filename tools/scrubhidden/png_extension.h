#pragma once

// Whether the text after the last "." of path is exactly ".png". Only that
// dot counts, even when it lies in a directory name, and case matters.
bool hasPngExtension(const char* path);
