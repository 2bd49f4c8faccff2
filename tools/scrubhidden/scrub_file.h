#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "file.h"
#include "files_in_rewrite.h"
#include "folder_walk.h"
#include "image.h"

// One file of a batch, from the look ahead that tells what it will need to
// its rewrite flushed and moved into place.

// What a file will need, found ahead: the file found and opened, and the
// memory that handling it may take (see pngNeed), or why it could not be;
// and, where less than that need, the memory that was left for it when it
// was to start.
struct FilePlan {
    bool rewriting = false;
    uint64_t need = 0;
    uint64_t left = UINT64_MAX;
    SourceFile source;
    OpenFile file;
    Failure failure;
};

// Finds and opens the file given or found and measures what it needs, the
// more when it is to be rewritten; a failure that came with it is its plan's.
FilePlan planFile(const FoundFile& given, bool rewriting);

enum class Outcome { clean, hidesColour, failed };

struct FileResult {
    Outcome outcome = Outcome::clean;
    std::string reason;
    // A rewrite still to be flushed and moved into place.
    Replacement replacement;
    // What is held in the files in rewrite until the rewrite is done.
    std::vector<FileKey> held;
};

// Judges the planned file, from its chunks where they decide and from its
// pixels where not, decoding it into image unless it needs more memory than
// limit or than was left for it; and, when it was planned for rewriting,
// begins its rewrite where it hid colour, holding its name and the file
// itself in inRewrite until the rewrite is done. A file that changed since
// it was planned is read as it is now.
FileResult scrubFile(Image& image, const FoundFile& given, FilePlan& plan,
                     FilesInRewrite& inRewrite, uint64_t limit);

// Flushes a rewrite that scrubFile began and moves it into place, which
// mostly waits on the disk, and lets the file go.
void finishFile(FileResult& result, FilesInRewrite& inRewrite);
