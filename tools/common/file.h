#pragma once

// Reading files, and writing them safely: the policy, written once for every
// system on the primitives of file_system.h, over the record of temporary
// files (temporary_file.h). A rewrite, in the order of its calls:
//
//   SourceFile source;                        // the file's folder, held open
//   OpenFile file;
//   findForRewrite(path, source);             // walk to it as a write would
//   openForRewrite(source, file);             // open it, noting what it is
//   ... read file and make the new bytes ...
//   Replacement replacement;
//   replacement.beginRewrite(source, bytes);  // the new file, written beside it
//   replacement.commit();                     // flushed, looked at, moved over
//
// Each call returns a Failure, and the next is made only after none; a
// Replacement dropped before its commit removes its new file.
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
#include "temporary_file.h"

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

// A stream of unknown length is read in blocks of readBlock bytes, growing
// to largestReadBlock: few calls for a long one, little room unused where it
// ends.
constexpr size_t readBlock = size_t(1) << 16;
constexpr size_t largestReadBlock = size_t(1) << 23;

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

// A write of a whole file, in two halves, so that the slow flush can wait
// on other work: a begin, then commit; whatever fails, the target is as it
// was, and a replacement dropped before its commit, or ended by a signal,
// removes its temporary file.
//
// beginNewFile writes bytes as the file at path. A regular file there is
// replaced and its owner, group, mode, ACL and extended attributes are kept
// (the owner only where the caller may set it); a new file gets what a new
// file gets there. Refused: a target that is no regular file, one the caller
// may not write, one that another user put in a sticky, world-writable
// folder, a target or folder that is append-only or immutable, and a target
// that changes between the first check of it and the move.
//
// beginRewrite replaces the file that openForRewrite opened in the same way,
// but only while it is that very file, unchanged: any change to it or its
// name since refuses the write. It takes the folder out of source.
//
// A begin makes the temporary file, writes it and gives it the original's
// metadata, and leaves it pending; commit flushes it, looks at the target a
// last time and moves it into place, and leaves it no longer pending,
// whether it moved the file or removed it. Each returns what failed.
struct Replacement {
    Failure beginNewFile(const std::string& path, const std::vector<unsigned char>& bytes);
    Failure beginRewrite(SourceFile& source, const std::vector<unsigned char>& bytes);
    Failure commit();
    bool pending() const { return temporary.held(); }

private:
    Handle folder;
    std::string target;
    FileStatus found;
    // Declared after the folder it is in, so that it is dropped first.
    TemporaryFile temporary;
    Handle file;
    // The file has no name yet (see createUnnamedAt).
    bool unnamed = false;

    // In folder, where target must still be unchanged from expected (missing,
    // or a regular file) or, with none expected, may be anything fit to be
    // replaced but another user's file in a shared folder.
    Failure begin(Handle folder, const std::string& target, const std::vector<unsigned char>& bytes,
                  const FileStatus* expected);
};

// Both halves at once.
Failure writeNewFile(const std::string& path, const std::vector<unsigned char>& bytes);
