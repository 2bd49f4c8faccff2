#pragma once

#include <algorithm>
#include <string>
#include <vector>

// Whole-file access for the image record, with one implementation for each
// kind of system, picked when building. Both return an empty string on
// success, or else the system's own words for what failed, on one line.

// Which file a read found, so that a rewrite can make sure it replaces
// that very file.
struct FileIdentity {
    unsigned long long device = 0;
    unsigned long long file = 0;
};

// Reads the file at path into bytes, replacing what bytes held, and notes
// which file it was in identity, if given. The first 33 bytes come first:
// when they do not start like a PNG file, reading stops there, so that a
// large file that is no PNG is refused at once. The file is opened without
// waiting on a pipe that has no writer; with regularOnly, anything but a
// regular file is refused without being read.
std::string readFile(const char* path, std::vector<unsigned char>& bytes, bool regularOnly = false,
                     FileIdentity* identity = nullptr);

// Replaces the file at path by bytes so that no reader and no crash ever
// sees a partly written file: the bytes go to a new file beside the target,
// named .NAME.XXXXXX, which is flushed to disk and only then moved over the
// target in one step. A replaced file keeps its permissions (and its owner
// and group, where the caller may set them). A symbolic link is kept and the
// file it points to is replaced, but only where the kernel would follow the
// link for the caller: not one in a sticky, world-writable folder that
// belongs to neither the caller nor the folder's owner. A read-only target
// is refused, and so, with expected given, is a target that is no longer
// the file expected. On failure the target is unchanged and no temporary
// file is left behind.
std::string replaceFile(const char* path, const std::vector<unsigned char>& bytes,
                        const FileIdentity* expected = nullptr);

// Removes the temporary file of a replacement under way, if there is one.
// Safe to call from a signal handler or a console control handler.
void removeTemporaryFile();

// Whether the first bytes of a file can be the start of a PNG file.
inline bool startsLikePng(const std::vector<unsigned char>& head)
{
    static const unsigned char signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    return head.size() < 8 || std::equal(signature, signature + 8, head.begin());
}
