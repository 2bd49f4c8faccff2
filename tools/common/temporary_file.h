#pragma once

// The record of temporary files, which a handler reads as the process ends,
// on whatever signal, to remove every one that has a name; and how they are
// named. A tool never sees it: Replacement (file.h) keeps one for each write
// under way, and there may be any number at once.

#include <functional>
#include <string>

#include "failure.h"
#include "file_system.h"

struct TemporaryRecord;

// One temporary file, from the moment its write is begun until it is moved
// into place or dropped; moves, never copies. Dropping one whose file has a
// name removes that file.
struct TemporaryFile {
    TemporaryFile() = default;
    TemporaryFile(TemporaryFile&& other) noexcept;
    TemporaryFile& operator=(TemporaryFile&& other) noexcept;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile();

    // Takes a record for a file to be made in folder, which must stay open
    // while this holds it; a free record is reused, or else one more made.
    // The first also sets up the handler (see removeOnEnding).
    static TemporaryFile in(const Handle& folder);

    bool held() const { return record != nullptr; }
    // Gives the file a hidden name beside target, ".TARGET.XXXXXX" (the first
    // 64 bytes of target, cut on a whole character), through make, which
    // creates or links the file under the name it is given; the name is
    // recorded in one step that no signal on this thread can split, and one
    // taken already is tried again with another. On failure no name is held.
    Failure name(const std::string& target, const std::function<Failure(const std::string&)>& make);
    // The name given, "" before.
    const char* name() const;
    // The file is in place under another name: nothing is left to remove.
    void moved();

private:
    TemporaryRecord* record = nullptr;
};
