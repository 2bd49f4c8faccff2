#include "file.h"

#include <algorithm>

namespace {
// A folder, device, pipe or the like where a regular file is needed.
Failure notAFile(const FileStatus& status)
{
    if (status.type == FileStatus::Type::folder)
        return Failure::of(Failure::Kind::folder);
    if (status.type == FileStatus::Type::other)
        return Failure::of(Failure::Kind::notRegular);
    return Failure();
}

// Why a target may not be replaced, as it is now; with refuseOthersFiles,
// another user's file in a shared folder is refused too.
Failure refusal(const FileStatus& target, bool refuseOthersFiles)
{
    if (const Failure failure = notAFile(target);
        failure.failed() || target.type == FileStatus::Type::missing)
        return failure;
    if (target.appendOnlyOrImmutable)
        return Failure::of(Failure::Kind::notReplaceable);
    if (target.readOnly || (refuseOthersFiles && target.othersInSharedFolder))
        return Failure::of(Failure::Kind::denied);
    return Failure();
}

} // namespace

Failure openToRead(const std::string& path, OpenFile& file)
{
    file = OpenFile();
    // Opened by the name the walk found, in the folder it found, so that a
    // link that another user put in a shared folder is refused as a write
    // refuses it, even one swapped in after the walk. A name that has
    // become a link since is walked again, since it may be one to follow.
    Failure failure = Failure::of(Failure::Kind::changed);
    for (int walks = 0; walks < 3 && failure.kind == Failure::Kind::changed; ++walks) {
        Handle folder;
        std::string name;
        failure = openFolderOf(path, folder, name);
        if (!failure.failed())
            failure = openToReadAt(folder, name, file.handle);
    }
    if (!failure.failed())
        failure = statusOf(file.handle, file.status);
    if (!failure.failed() && file.status.type == FileStatus::Type::folder)
        failure = Failure::of(Failure::Kind::folder);
    return failure;
}

namespace {
// Reads on from where file stands into bytes from offset from, until bytes
// is full or the file ends, in which case ended is set and bytes cut to
// what was read.
Failure fill(OpenFile& file, std::vector<unsigned char>& bytes, size_t from, bool& ended)
{
    while (from < bytes.size()) {
        size_t done = 0;
        const Failure failure =
            readSome(file.handle, bytes.data() + from, bytes.size() - from, done);
        if (failure.failed())
            return failure;
        if (done == 0) {
            ended = true;
            bytes.resize(from);
        }
        from += done;
    }
    return Failure();
}
} // namespace

Failure readUpTo(OpenFile& file, std::vector<unsigned char>& bytes, size_t size)
{
    // A regular file is read into one buffer of its stated size and one byte
    // more, which lets the read that finds its end succeed.
    Failure failure;
    bool ended = false;
    const size_t used = bytes.size();
    if (file.status.type == FileStatus::Type::regular && used < size) {
        bytes.resize(
            size_t(std::min<uint64_t>(size, std::max<uint64_t>(used, file.status.size + 1))));
        failure = fill(file, bytes, used, ended);
    }
    // What comes beyond, from a stream or a file that grew, is read in
    // blocks, each filled before the next is made, and joined at the end
    // one block at a time: a buffer that grew by copying would hold the old
    // bytes beside a new buffer of twice as many, past what the caller
    // allowed for.
    std::vector<std::vector<unsigned char>> blocks;
    size_t total = bytes.size();
    for (size_t block = readBlock; !failure.failed() && !ended && total < size;
         block = std::min(block * 2, largestReadBlock)) {
        blocks.emplace_back(std::min(block, size - total));
        failure = fill(file, blocks.back(), 0, ended);
        total += blocks.back().size();
    }
    if (failure.failed()) {
        std::vector<unsigned char>().swap(bytes);
        return failure;
    }
    bytes.reserve(total);
    for (std::vector<unsigned char>& block : blocks) {
        bytes.insert(bytes.end(), block.begin(), block.end());
        std::vector<unsigned char>().swap(block);
    }
    return Failure();
}

Failure findForRewrite(const std::string& path, SourceFile& source)
{
    source = SourceFile();
    const Failure failure = openFolderOf(path, source.folder, source.name);
    return failure.failed() ? failure : statusOf(source.folder, source.folderStatus);
}

Failure findForRewrite(const Handle& folder, const std::string& name, SourceFile& source)
{
    source = SourceFile();
    const Failure failure = openFolderOf(folder, name, source.folder, source.name);
    return failure.failed() ? failure : statusOf(source.folder, source.folderStatus);
}

Failure openForRewrite(SourceFile& source, OpenFile& file)
{
    file = OpenFile();
    FileStatus named;
    Failure failure = statusAt(source.folder, source.name, named);
    if (!failure.failed())
        failure = notAFile(named);
    if (!failure.failed())
        failure = openAt(source.folder, source.name, file.handle);
    if (!failure.failed())
        failure = statusOf(file.handle, file.status);
    // Another file put in its place since the first check is read if it is a
    // regular one: its own status is what the rewrite will expect.
    if (!failure.failed())
        failure = notAFile(file.status);
    source.status = file.status;
    return failure;
}

Failure reopenIfChanged(SourceFile& source, OpenFile& file)
{
    FileStatus named;
    FileStatus now;
    if (!statusAt(source.folder, source.name, named).failed() &&
        named.sameFileAndContents(file.status) && !statusOf(file.handle, now).failed() &&
        now.sameFileAndContents(file.status))
        return Failure();
    return openForRewrite(source, file);
}

Failure Replacement::begin(Handle into, const std::string& name,
                           const std::vector<unsigned char>& bytes, const FileStatus* expected)
{
    *this = Replacement();
    FileStatus was;
    FileStatus opened;
    FileStatus folderStatus;
    Handle original;
    Failure failure = statusAt(into, name, was, &folderStatus);
    if (!failure.failed() && expected != nullptr && !was.sameFileAndContents(*expected))
        failure = Failure::of(Failure::Kind::changed);
    if (!failure.failed())
        failure = refusal(was, expected == nullptr);
    // The original is opened for its metadata, and must be the file found.
    if (!failure.failed() && was.type == FileStatus::Type::regular) {
        failure = openAt(into, name, original);
        if (!failure.failed())
            failure = statusOf(original, opened);
        if (!failure.failed() && !opened.sameFileAndContents(was))
            failure = Failure::of(Failure::Kind::changed);
    }
    // A folder that refuses the move would also refuse removing the
    // temporary file, so it is refused before anything is created there.
    if (!failure.failed() && folderStatus.appendOnlyOrImmutable)
        failure = Failure::of(Failure::Kind::notReplaceable);
    if (failure.failed())
        return failure;

    folder = std::move(into);
    target = name;
    found = was;
    temporary = TemporaryFile::in(folder);
    // Only the caller may open a file that will take the original's
    // metadata, until it has them.
    const bool ownerOnly = original.valid();
    // Without a name until the move, where the file system allows it, so
    // that even a kill that cannot be caught leaves nothing behind.
    unnamed = !createUnnamedAt(folder, ownerOnly, file).failed();
    if (!unnamed)
        failure = temporary.name(target, [&](const std::string& temporaryName) {
            return createAt(folder, temporaryName, ownerOnly, file);
        });
    if (!failure.failed())
        failure = writeAll(file, bytes.data(), bytes.size());
    // After the data, since writing would clear set-id bits and capabilities.
    if (!failure.failed() && original.valid())
        failure = copyMetadata(original, file);
    if (failure.failed())
        *this = Replacement();
    return failure;
}

Failure Replacement::beginNewFile(const std::string& path, const std::vector<unsigned char>& bytes)
{
    Handle into;
    std::string name;
    const Failure failure = openFolderOf(path, into, name);
    return failure.failed() ? failure : begin(std::move(into), name, bytes, nullptr);
}

Failure Replacement::beginRewrite(SourceFile& source, const std::vector<unsigned char>& bytes)
{
    return begin(std::move(source.folder), source.name, bytes, &source.status);
}

Failure Replacement::commit()
{
    // On disk before the move, so that a crash leaves the old file or the
    // new one, never one whose data had not yet been written.
    Failure failure = flush(file);
    // The last check, which leaves only the moment between it and the move.
    FileStatus now;
    if (!failure.failed())
        failure = statusAt(folder, target, now);
    if (!failure.failed() && !now.sameFileAndContents(found))
        failure = Failure::of(Failure::Kind::changed);
    // A rename needs a name to move, given only now.
    if (!failure.failed() && unnamed)
        failure = temporary.name(target, [&](const std::string& temporaryName) {
            return linkAt(file, folder, temporaryName);
        });
    // Another program's hold on the target is waited out here, while the
    // new file would still vanish with the process; and it is kept only for
    // the move itself, so that an end at any moment before it leaves nothing.
    const bool replacing = found.type == FileStatus::Type::regular;
    if (!failure.failed() && replacing)
        failure = waitUntilReplaceable(folder, target);
    if (!failure.failed())
        failure = keepWhenClosed(file);
    const Failure closed = file.close();
    if (!failure.failed())
        failure = closed;
    if (!failure.failed())
        failure = moveAt(folder, temporary.name(), target, replacing);
    if (!failure.failed())
        temporary.moved();
    *this = Replacement();
    return failure;
}

Failure writeNewFile(const std::string& path, const std::vector<unsigned char>& bytes)
{
    Replacement replacement;
    const Failure failure = replacement.beginNewFile(path, bytes);
    return failure.failed() ? failure : replacement.commit();
}
