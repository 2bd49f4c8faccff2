#pragma once

// Reading files, and writing them safely: the policy, written once for every
// system on the primitives of file_system.h, beside the record of temporary
// files that it keeps for a handler to clean up as the process ends.
//
// Every write goes to a new file beside its target, which is given the
// original's metadata, flushed to disk and only then moved over the target in
// one step, all relative to the target's folder held open, so that a folder
// swapped meanwhile cannot redirect it. An existing target is either replaced
// whole or left exactly as it was. Where the system allows it the new file
// has no name until the move, and nothing is left of it however the process
// ends; elsewhere it is named .NAME.XXXXXX from the start, and is removed
// whatever fails and whichever signal arrives, but a kill that cannot be
// caught.

#include <cstddef>
#include <string>
#include <tuple>
#include <vector>

#include "failure.h"
#include "file_system.h"

// The most writes that one process may have under way at once: each holds a
// record of its temporary file from beginNewFile or beginRewrite until its
// Replacement is dropped. A thread that would begin one more waits for one to
// end.
constexpr size_t maxWritesUnderWay = 256;

// A file open for reading, and what it was when opened.
struct OpenFile {
    Handle handle;
    FileStatus status;
};

// Opens the file at path for reading: a regular file, or anything else that
// can be read, such as a pipe (waited for until its writer comes), but not a
// folder, nor through a link that a write would refuse to follow, even one
// put in place of the file after its path was walked.
Failure openToRead(const std::string& path, OpenFile& file);

// Reads on from where file stands until bytes holds size bytes or the file
// ends; bytes keeps what it held. On failure bytes is emptied.
Failure readUpTo(OpenFile& file, std::vector<unsigned char>& bytes, size_t size);

// What names a file, for telling whether two names mean one file: a device
// and a number on it, and a name in that folder, or no name for the file
// itself.
using FileKey = std::tuple<uint64_t, uint64_t, std::string>;

// A file found to be read and then rewritten: the folder holding it, kept
// open, and what that folder is, its name there, and what the file was when
// opened.
struct SourceFile {
    Handle folder;
    FileStatus folderStatus;
    std::string name;
    FileStatus status;

    // Where the file is, its folder and name there, and what it is, which
    // its other names share.
    FileKey place() const { return {folderStatus.device, folderStatus.file, name}; }
    FileKey identity() const { return {status.device, status.file, std::string()}; }
};

// Finds the file at path as a write would find it: its folder, held open, and
// its name there, in source, replacing what it held.
Failure findForRewrite(const std::string& path, SourceFile& source);
// The same for the name that a walk found in folder.
Failure findForRewrite(const Handle& folder, const std::string& name, SourceFile& source);

// Opens the regular file that source names, and keeps in source what it is,
// for beginRewrite. Anything but a regular file is refused without being
// opened.
Failure openForRewrite(SourceFile& source, OpenFile& file);

// Opens the file that source names again, as openForRewrite does, unless
// its name still names the file open in file and that file is unchanged
// since it was opened (see FileStatus::sameFileAndContents).
Failure reopenIfChanged(SourceFile& source, OpenFile& file);

// A write under way: its temporary file made, written and given the
// original's metadata, but neither flushed nor moved into place, so that the
// slow flush can wait on other work. Dropping one unfinished removes its
// temporary file.
struct Replacement {
    Handle folder;
    std::string target;
    FileStatus found;
    Handle file;
    // The record of its temporary file, while it has one.
    struct TemporaryRecord* record = nullptr;
    // The file has no name yet (see createUnnamedAt).
    bool unnamed = false;

    Replacement() = default;
    Replacement(Replacement&& other) noexcept;
    Replacement& operator=(Replacement&& other) noexcept;
    ~Replacement();
    bool pending() const { return record != nullptr; }
};

// The halves of a write: begin checks the target, makes and writes the
// temporary file and leaves it in replacement; finish flushes it, looks at the
// target a last time and moves it into place, or removes it. Each returns what
// failed, with the target left as it was.
//
// beginNewFile writes bytes as the file at path. A regular file there is
// replaced and its owner, group, mode, ACL and extended attributes are kept
// (the owner only where the caller may set it); a new file gets what a new
// file gets there. Refused: a target that is no regular file, one the caller
// may not write, one that another user put in a sticky, world-writable
// folder, a target or folder that is append-only or immutable, and a target
// that changes between the first check of it and the move.
//
// finish takes only a replacement that a begin left pending, and leaves it
// no longer pending, whether it moved the file into place or removed it.
//
// beginRewrite replaces the file that openForRewrite opened in the same way,
// but only while it is that very file, unchanged: any change to it or its
// name since refuses the write. It takes the folder out of source.
Failure beginNewFile(const std::string& path, const std::vector<unsigned char>& bytes,
                     Replacement& replacement);
Failure beginRewrite(SourceFile& source, const std::vector<unsigned char>& bytes,
                     Replacement& replacement);
Failure finish(Replacement& replacement);

// Both halves at once.
Failure writeNewFile(const std::string& path, const std::vector<unsigned char>& bytes);
