#include "folder_walk.h"

#include <algorithm>

namespace {
// Ordered as their paths will be: a folder's name is followed by "/" there.
bool before(const FolderEntry& one, const FolderEntry& other)
{
    const size_t common = std::min(one.name.size(), other.name.size());
    const int order = one.name.compare(0, common, other.name, 0, common);
    if (order != 0)
        return order < 0;
    // One name starts the other: a folder's goes on with "/", and a file's
    // ends, before any byte that a name can hold.
    const auto after = [&](const FolderEntry& entry) -> unsigned char {
        return entry.name.size() > common ? static_cast<unsigned char>(entry.name[common])
               : entry.type == FolderEntry::Type::folder ? '/'
                                                         : '\0';
    };
    return after(one) < after(other);
}

bool endsInSeparator(const std::string& path)
{
    return !path.empty() &&
           (path.back() == '/' || (backslashSeparatesFolders && path.back() == '\\'));
}
} // namespace

Failure FolderWalk::enter(std::string path, Handle folder)
{
    Level level;
    Failure failure = statusOf(folder, level.status);
    if (!failure.failed())
        failure = listFolder(folder, level.entries);
    if (failure.failed())
        return failure;
    std::sort(level.entries.begin(), level.entries.end(), before);
    level.folder = std::make_shared<const Handle>(std::move(folder));
    level.path = std::move(path);
    levels.push_back(std::move(level));
    return Failure();
}

Failure FolderWalk::start(const std::string& path)
{
    levels.clear();
    Handle folder;
    const Failure failure = openFolderPath(path, folder);
    return failure.failed() ? failure : enter(path, std::move(folder));
}

bool FolderWalk::descend(const FolderEntry& entry, const std::string& path, FoundFile& found)
{
    const Level& parent = levels.back();
    Handle folder;
    FileStatus status;
    Failure failure;
    if (levels.size() >= depthLimit) {
        found.failure = "folders nested more than " + std::to_string(depthLimit) +
                        " deep, as many as the limit of open files allows";
    } else if ((failure = openSubfolderAt(*parent.folder, entry.name, folder)).failed() ||
               (failure = statusOf(folder, status)).failed()) {
        found.failure = failure.reason();
    } else if (std::any_of(levels.begin(), levels.end(), [&](const Level& level) {
                   return level.status.device == status.device && level.status.file == status.file;
               })) {
        found.failure = "folder loop";
    } else if ((failure = enter(path, std::move(folder))).failed()) {
        found.failure = failure.reason();
    }
    return !found.failure.empty();
}

bool FolderWalk::next(FoundFile& found)
{
    while (!levels.empty()) {
        Level& level = levels.back();
        if (level.at == level.entries.size()) {
            levels.pop_back();
            continue;
        }
        const FolderEntry entry = std::move(level.entries[level.at++]);
        const bool folder = entry.type == FolderEntry::Type::folder;
        if (!folder && !wanted(entry.name))
            continue;
        found = FoundFile();
        found.path = level.path +
                     (endsInSeparator(level.path) ? ""
                      : backslashSeparatesFolders ? "\\"
                                                  : "/") +
                     entry.name;
        if (folder && !descend(entry, found.path, found))
            continue;
        if (!folder)
            found.folder = level.folder, found.name = entry.name;
        return true;
    }
    return false;
}
