#pragma once

// Whole-file reading and safe writing for the image record, written once for
// every system on the primitives of file_system.h.
//
// Every write goes to a new file beside the target, named .NAME.XXXXXX,
// which is given the original's metadata, flushed to disk and only then moved
// over the target in one step, all relative to the target's folder held open,
// so that a folder swapped meanwhile cannot redirect it. An existing target
// is either replaced whole or left exactly as it was, and no temporary file is
// left behind, whatever fails and whichever signal arrives, but a kill that
// cannot be caught.

#include <algorithm>
#include <string>
#include <vector>

#include "failure.h"
#include "file_system.h"

// A regular file found and read so that it can be rewritten: the folder
// holding it, kept open, and what that folder is, its name there, and what
// the file was when read.
struct SourceFile {
    Handle folder;
    FileStatus folderStatus;
    std::string name;
    FileStatus status;
};

// Reads the whole file at path into bytes, replacing what they held: a
// regular file, or anything else that can be read, such as a pipe, but not
// through a link that a write would refuse to follow. The first
// 33 bytes come first; when they do not start like a PNG file, reading stops
// there, so that a large file that is no PNG is refused at once.
Failure readFile(const std::string& path, std::vector<unsigned char>& bytes);

// Finds the file at path as a write would find it: its folder, held open, and
// its name there, in source, replacing what it held.
Failure findForRewrite(const std::string& path, SourceFile& source);

// Reads as readFile does the regular file that source names, and keeps in
// source what it was, for beginRewrite. Anything but a regular file is refused
// without being opened.
Failure readForRewrite(SourceFile& source, std::vector<unsigned char>& bytes);

// Writes bytes as the file at path. A regular file there is replaced and its
// owner, group, mode, ACL and extended attributes are kept (the owner only
// where the caller may set it); a new file gets what a new file gets there.
// Refused, with the target left as it was: a target that is no regular file,
// one the caller may not write, one that another user planted in a sticky,
// world-writable folder, a target or folder that is append-only or
// immutable, and a target that changes between the first look at it and the
// move.
Failure writeNewFile(const std::string& path, const std::vector<unsigned char>& bytes);

// A write under way: its temporary file made, written and given the
// original's metadata, but neither flushed nor moved into place, so that the
// slow flush can wait on other work. Dropping one unfinished removes its
// temporary file.
struct Replacement {
    Handle folder;
    std::string name;
    FileStatus found;
    Handle file;
    int slot = -1;
    // The file has no name yet (see createUnnamedAt).
    bool unnamed = false;

    Replacement() = default;
    Replacement(Replacement&& other) noexcept;
    Replacement& operator=(Replacement&& other) noexcept;
    ~Replacement();
    bool pending() const { return slot >= 0; }
};

// The halves of a write: begin checks the target, makes and writes the
// temporary file and leaves it in replacement; finish flushes it, looks at
// the target a last time and moves it into place, or removes it. Each returns
// what failed, with the target left as it was. beginNewFile writes as
// writeNewFile does; beginRewrite replaces the file that readForRewrite read,
// as writeNewFile replaces a file, but only while it is that very file,
// unchanged: any change to it or its name since it was read refuses the
// write. It takes the folder out of source.
Failure beginNewFile(const std::string& path, const std::vector<unsigned char>& bytes, Replacement& replacement);
Failure beginRewrite(SourceFile& source, const std::vector<unsigned char>& bytes, Replacement& replacement);
Failure finish(Replacement& replacement);

// Removes the temporary files of every write under way. Safe in a signal
// handler or a console control handler.
void removeTemporaryFiles();

// Whether the first bytes of a file, as many as there are up to eight, are
// those that start every PNG file.
inline bool startsLikePng(const std::vector<unsigned char>& head)
{
    static const unsigned char signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    return std::equal(head.begin(), head.begin() + std::min<size_t>(head.size(), 8), signature);
}
