#pragma once

#include <vector>

// Whole-file access for the image record. Both return 0 on success or the
// errno value of the call that failed.

// Reads the whole file at path into bytes, replacing what bytes held.
int readFile(const char* path, std::vector<unsigned char>& bytes);

// Replaces the file at path by bytes so that no reader and no crash of this
// process ever sees a partly written file: the bytes go to a new file beside
// the target, which is renamed over it only once completely written. A
// replaced file keeps its permission bits (and, where allowed, its owner); a
// symbolic link is kept and the file it points to is replaced. A read-only
// target is refused. On failure the target is unchanged and no temporary
// file is left behind.
int replaceFile(const char* path, const std::vector<unsigned char>& bytes);
