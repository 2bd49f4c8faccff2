#pragma once

// Walking a tree of folders as safely as the file layer writes: each folder
// is opened from its parent, held open, by the name found there, and never by
// its path text again, so that a folder swapped for a link meanwhile is never
// followed; links inside the tree are not followed into folders at all.

#include <memory>
#include <string>
#include <vector>

#include "failure.h"
#include "file_system.h"

// A name that a walk found, or a folder that it could not walk.
struct FoundFile {
    // The path as the walk was given it, then the names down to this one.
    std::string path;
    // The folder that holds it, held open for as long as anything holds this.
    std::shared_ptr<const Handle> folder;
    std::string name;
    // Why the folder at path could not be walked; empty for a file.
    std::string failure;
};

// One tree, walked depth first, in the order of the paths found compared
// byte by byte (as "LC_ALL=C sort" orders them), whatever order the file
// system lists names in: a folder's names are sorted as if each folder's
// name ended in "/". It holds the names of one folder for each level it has
// gone down, and one open folder for each, never more than depthLimit.
struct FolderWalk {
    // Gives the names of files, and of links, for which wanted holds.
    bool (*wanted)(const std::string& name) = nullptr;
    size_t depthLimit = 64;

    // Opens the folder at path, following links as openFolderPath does, to
    // be walked; on failure there is nothing to walk.
    Failure start(const std::string& path);
    // The next file wanted, or the next folder found that cannot be walked;
    // false once the walk is done.
    bool next(FoundFile& found);

private:
    struct Level {
        std::shared_ptr<const Handle> folder;
        std::string path;
        FileStatus status;
        std::vector<FolderEntry> entries;
        size_t at = 0;
    };
    std::vector<Level> levels;

    // Goes down into the folder named at the current level; a failure to
    // report is put in found.
    bool descend(const FolderEntry& entry, const std::string& path, FoundFile& found);
    Failure enter(std::string path, Handle folder);
};
