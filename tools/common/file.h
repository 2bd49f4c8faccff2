#pragma once

#include <string>
#include <vector>

// Whole-file access for the image record, with one implementation for each
// kind of system, picked when building. Both return an empty string on
// success, or else the system's own words for what failed, on one line.

// Reads the whole file at path into bytes, replacing what bytes held.
std::string readFile(const char* path, std::vector<unsigned char>& bytes);

// Replaces the file at path by bytes so that no reader and no crash ever
// sees a partly written file: the bytes go to a new file beside the target,
// which is flushed to disk and only then moved over the target in one step.
// A replaced file keeps its permissions (and, where allowed, its owner); a
// symbolic link is kept and the file it points to is replaced. A read-only
// target is refused. On failure the target is unchanged and no temporary
// file is left behind.
std::string replaceFile(const char* path, const std::vector<unsigned char>& bytes);
