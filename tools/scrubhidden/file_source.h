#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "file.h"
#include "folder_walk.h"

// The files a run handles, one after another, each as soon as it is found:
// the operands in their order or, with a list, the names that it holds,
// ended by NUL; with recursive, a folder among them stands for every PNG
// file in the tree under it. Nothing is held but the list being read and
// the tree being walked.
struct FileSource {
    std::vector<std::string> operands;
    // The file that holds the names, "-" for standard input; empty for none.
    std::string list;
    bool recursive = false;
    size_t depthLimit = 64;
    // Names passed over, as neither PNG files nor folders walked.
    size_t skipped = 0;

    // Where every file is an operand, as without a list or recursive: drops
    // the operands that name no PNG file, counting them skipped, and
    // returns how many files are left, which next then takes as they are.
    size_t keepPngOperands();

    // The next file, or the next failure to report in its place: a list or
    // a folder that cannot be read, an empty name in a list (with no path).
    bool next(FoundFile& found);

private:
    size_t at = 0;
    bool listOpen = false;
    OpenFile listFile;
    // What was read of the list and not yet taken, from used on.
    std::vector<unsigned char> pending;
    size_t used = 0;
    size_t entries = 0;
    FolderWalk walk;
    bool walking = false;

    // Reads the next name from the list; false at its end, or with a
    // failure to report in found.
    bool nextName(std::string& name, FoundFile& found);
    // What the operand text stands for: false when nothing, or a tree that
    // walk now holds.
    bool take(const std::string& text, FoundFile& found);
};
