#include "file.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <random>

// The record of temporary files.
//
// A handler that runs as the process ends, on whichever thread, removes every
// temporary file that has a name, walking records that live in static storage
// and change state atomically, so that it needs no lock and no allocation.
// Each write under way holds one record, which moves between these states:
//
//   free    -> held      the writing thread claims it (claimRecord)
//   held    -> naming    the thread is about to give the file a name, with the
//                        signals that would end the process held off it
//   naming  -> named     the name now exists on disk
//   naming  -> held      no name was made
//   named   -> held      the thread moved the file into place
//   any     -> free      the thread dropped the write, first removing the file
//                        if named (the Replacement's destructor)
//
// A handler waits for a record in naming, which lasts one system call, and
// sets ending first, so that no thread names a file it would miss. Each
// claim counts one more in the record's claims, so that a handler that read
// a record's name as its thread let go of it and claimed it again, writing
// another name, sees that and reads it again.

struct TemporaryRecord {
    enum State : int { free, held, naming, named };
    std::atomic<int> state{free};
    std::atomic<unsigned> claims{0};
    NativeHandle folder = noHandle;
    // ".", as much of the target's name as fits, "." and the random part.
    char temporary[1 + 64 + 1 + 6 + 1];
};

namespace {
const size_t randomCharacters = 6;

TemporaryRecord records[maxWritesUnderWay];
std::atomic<bool> ending{false};
std::mutex recordsMutex;
std::condition_variable recordFreed;

void removeTemporaryFiles()
{
    ending = true;
    for (TemporaryRecord& record : records) {
        for (;;) {
            const unsigned claim = record.claims.load();
            int state;
            while ((state = record.state.load()) == TemporaryRecord::naming) { }
            if (state != TemporaryRecord::named)
                break;
            char name[sizeof record.temporary];
            std::memcpy(name, record.temporary, sizeof name);
            const NativeHandle folder = record.folder;
            if (record.claims.load() == claim) {
                removeAt(folder, name);
                break;
            }
        }
    }
}

TemporaryRecord& claimRecord()
{
    static std::once_flag handlerInstalled;
    std::call_once(handlerInstalled, [] { removeOnEnding(removeTemporaryFiles); });
    std::unique_lock<std::mutex> lock(recordsMutex);
    for (;;) {
        for (TemporaryRecord& record : records) {
            int expected = TemporaryRecord::free;
            if (record.state.compare_exchange_strong(expected, TemporaryRecord::held)) {
                ++record.claims;
                return record;
            }
        }
        recordFreed.wait(lock);
    }
}

void releaseRecord(TemporaryRecord& record)
{
    if (record.state == TemporaryRecord::named)
        removeAt(record.folder, record.temporary);
    const std::lock_guard<std::mutex> lock(recordsMutex);
    record.state = TemporaryRecord::free;
    recordFreed.notify_one();
}

// The hidden name beside target, kept short so that a target whose name is
// near the file system's limit still gets one, and cut on a whole character
// so that it stays valid UTF-8.
std::string temporaryName(const std::string& target)
{
    size_t keep =
        std::min<size_t>(target.size(), sizeof records[0].temporary - 3 - randomCharacters);
    while (keep > 0 && keep < target.size() &&
           (static_cast<unsigned char>(target[keep]) & 0xC0) == 0x80)
        --keep;
    thread_local std::minstd_rand random(std::random_device{}());
    std::string name = "." + target.substr(0, keep) + ".";
    for (size_t i = 0; i < randomCharacters; ++i)
        name += "0123456789abcdefghijklmnopqrstuvwxyz"[random() % 36];
    return name;
}

// Gives the temporary file a name beside target through make, which creates
// or links the file under the name it is given, and records that name in
// one step that no signal on this thread can split. A name taken already is
// tried again with another.
template <typename Make>
Failure nameTemporary(const std::string& target, TemporaryRecord& record, Make make)
{
    Failure failure = Failure::of(Failure::Kind::exists);
    for (int attempt = 0; attempt < 100 && failure.kind == Failure::Kind::exists; ++attempt) {
        const std::string name = temporaryName(target);
        std::memcpy(record.temporary, name.c_str(), name.size() + 1);
        holdSignals();
        // Either a handler that has begun sees this record naming, and waits
        // for it, or this thread sees it ending and makes nothing; what it
        // then reports nobody reads.
        record.state = TemporaryRecord::naming;
        failure = ending ? Failure::of(Failure::Kind::changed) : make(name);
        record.state = failure.failed() ? TemporaryRecord::held : TemporaryRecord::named;
        releaseSignals();
    }
    return failure;
}

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

// The first half of every write, in folder, where target must still be as
// expected (missing, or a regular file) or, with none expected, may be
// anything fit to be replaced.
Failure begin(Handle folder, const std::string& target, const std::vector<unsigned char>& bytes,
              const FileStatus* expected, bool refuseOthersFiles, Replacement& replacement)
{
    FileStatus found;
    FileStatus opened;
    FileStatus folderStatus;
    Handle original;
    Failure failure = statusAt(folder, target, found, &folderStatus);
    if (!failure.failed() && expected != nullptr && !found.sameFileAndContents(*expected))
        failure = Failure::of(Failure::Kind::changed);
    if (!failure.failed())
        failure = refusal(found, refuseOthersFiles);
    // The original is opened for its metadata, and must be the file found.
    if (!failure.failed() && found.type == FileStatus::Type::regular) {
        failure = openAt(folder, target, original);
        if (!failure.failed())
            failure = statusOf(original, opened);
        if (!failure.failed() && !opened.sameFileAndContents(found))
            failure = Failure::of(Failure::Kind::changed);
    }
    // A folder that refuses the move would also refuse removing the
    // temporary file, so it is refused before anything is created there.
    if (!failure.failed() && folderStatus.appendOnlyOrImmutable)
        failure = Failure::of(Failure::Kind::notReplaceable);
    if (failure.failed())
        return failure;

    Replacement made;
    made.record = &claimRecord();
    made.record->folder = folder.native;
    // Only the caller may open a file that will take the original's
    // metadata, until it has them.
    const bool ownerOnly = original.valid();
    // Without a name until the move, where the file system allows it, so
    // that even a kill that cannot be caught leaves nothing behind.
    made.unnamed = !createUnnamedAt(folder, ownerOnly, made.file).failed();
    if (!made.unnamed)
        failure = nameTemporary(target, *made.record, [&](const std::string& temporary) {
            return createAt(folder, temporary, ownerOnly, made.file);
        });
    if (failure.failed())
        return failure;
    made.folder = std::move(folder);
    made.target = target;
    made.found = found;
    failure = writeAll(made.file, bytes.data(), bytes.size());
    // After the data, since writing would clear set-id bits and capabilities.
    if (!failure.failed() && original.valid())
        failure = copyMetadata(original, made.file);
    if (!failure.failed())
        replacement = std::move(made);
    return failure;
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
    for (size_t block = 1 << 16; !failure.failed() && !ended && total < size;
         block = std::min<size_t>(block * 2, 1 << 23)) {
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

Replacement::Replacement(Replacement&& other) noexcept { *this = std::move(other); }

Replacement& Replacement::operator=(Replacement&& other) noexcept
{
    std::swap(folder, other.folder);
    std::swap(target, other.target);
    std::swap(found, other.found);
    std::swap(file, other.file);
    std::swap(record, other.record);
    std::swap(unnamed, other.unnamed);
    return *this;
}

Replacement::~Replacement()
{
    file = Handle();
    if (record != nullptr)
        releaseRecord(*record);
}

Failure beginNewFile(const std::string& path, const std::vector<unsigned char>& bytes,
                     Replacement& replacement)
{
    Handle folder;
    std::string target;
    const Failure failure = openFolderOf(path, folder, target);
    return failure.failed() ? failure
                            : begin(std::move(folder), target, bytes, nullptr, true, replacement);
}

Failure beginRewrite(SourceFile& source, const std::vector<unsigned char>& bytes,
                     Replacement& replacement)
{
    return begin(std::move(source.folder), source.name, bytes, &source.status, false, replacement);
}

Failure finish(Replacement& replacement)
{
    TemporaryRecord& record = *replacement.record;
    // On disk before the move, so that a crash leaves the old file or the
    // new one, never one whose data had not yet been written.
    Failure failure = flush(replacement.file);
    // The last check, which leaves only the moment between it and the move.
    FileStatus now;
    if (!failure.failed())
        failure = statusAt(replacement.folder, replacement.target, now);
    if (!failure.failed() && !now.sameFileAndContents(replacement.found))
        failure = Failure::of(Failure::Kind::changed);
    // A rename needs a name to move, given only now.
    if (!failure.failed() && replacement.unnamed)
        failure = nameTemporary(replacement.target, record, [&](const std::string& temporary) {
            return linkAt(replacement.file, replacement.folder, temporary);
        });
    // Another program's hold on the target is waited out here, while the
    // new file would still vanish with the process; and it is kept only for
    // the move itself, so that an end at any moment before it leaves nothing.
    if (!failure.failed() && replacement.found.type == FileStatus::Type::regular)
        failure = waitUntilReplaceable(replacement.folder, replacement.target);
    if (!failure.failed())
        failure = keepWhenClosed(replacement.file);
    const Failure closed = replacement.file.close();
    if (!failure.failed())
        failure = closed;
    if (!failure.failed())
        failure = moveAt(replacement.folder, record.temporary, replacement.target,
                         replacement.found.type == FileStatus::Type::regular);
    if (!failure.failed())
        record.state = TemporaryRecord::held; // moved: nothing left to remove
    replacement = Replacement();
    return failure;
}

Failure writeNewFile(const std::string& path, const std::vector<unsigned char>& bytes)
{
    Replacement replacement;
    const Failure failure = beginNewFile(path, bytes, replacement);
    return failure.failed() ? failure : finish(replacement);
}
