#include "file.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <random>

namespace {

// The temporary files of the writes under way, for a handler that must
// remove them as the process ends. Slots live in static storage and change
// state atomically, so that a handler can walk them without a lock or an
// allocation, in whichever thread it runs.
enum SlotState : int { freeSlot, claimed, creating, created };

const size_t slotCount = 256;
// ".", as much of the target's name as fits, "." and six random characters,
// and the end.
const size_t nameCapacity = 1 + 64 + 1 + 6 + 1;
const size_t randomCharacters = 6;

struct Slot {
    std::atomic<int> state{freeSlot};
    NativeHandle folder;
    char name[nameCapacity];
};

Slot slots[slotCount];

// Set once a handler has begun to remove the temporary files as the process
// ends: from then on no thread makes a new one that it might miss.
std::atomic<bool> ending{false};

// One slot per write under way; a batch never has more under way at once
// than there are slots.
Slot& claimSlot()
{
    for (size_t i = 0;; i = (i + 1) % slotCount) {
        int expected = freeSlot;
        if (slots[i].state.compare_exchange_strong(expected, claimed))
            return slots[i];
    }
}

// The hidden name beside target, kept short so that a target whose name is
// near the file system's limit still gets one, and cut on a whole character
// so that it stays valid UTF-8.
std::string temporaryName(const std::string& target)
{
    size_t keep = std::min<size_t>(target.size(), nameCapacity - 3 - randomCharacters);
    while (keep > 0 && keep < target.size() && (static_cast<unsigned char>(target[keep]) & 0xC0) == 0x80)
        --keep;
    thread_local std::minstd_rand random(std::random_device{}());
    std::string name = "." + target.substr(0, keep) + ".";
    for (size_t i = 0; i < randomCharacters; ++i)
        name += "0123456789abcdefghijklmnopqrstuvwxyz"[random() % 36];
    return name;
}

// Gives the temporary file a name beside target through make, which creates
// or links the file under the name it is given, and records that name in
// slot in one step that no signal on this thread can split. A name taken
// already is tried again with another.
template <typename Make> Failure nameTemporary(const std::string& target, Slot& slot, Make make)
{
    Failure failure = Failure::of(Failure::Kind::exists);
    for (int attempt = 0; attempt < 100 && failure.kind == Failure::Kind::exists; ++attempt) {
        const std::string name = temporaryName(target);
        std::memcpy(slot.name, name.c_str(), name.size() + 1);
        holdSignals();
        // Either a handler that has begun sees this slot creating, and waits
        // for it, or this thread sees it ending and makes nothing; what it
        // then reports nobody reads.
        slot.state = creating;
        failure = ending ? Failure::of(Failure::Kind::changed) : make(name);
        slot.state = failure.failed() ? claimed : created;
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

// Why a target may not be replaced, as it looks now; with planted, a file that
// another user may have planted counts too.
Failure refusal(const FileStatus& target, bool planted)
{
    if (const Failure failure = notAFile(target); failure.failed() || target.type == FileStatus::Type::missing)
        return failure;
    if (target.fixed)
        return Failure::of(Failure::Kind::notReplaceable);
    if (target.readOnly || (planted && target.foreign))
        return Failure::of(Failure::Kind::denied);
    return Failure();
}

// The first half of every write, in folder, where name must still be as
// expected (missing, or a regular file) or, with none expected, may be
// anything fit to be replaced; with planted, a file that another user may
// have planted is refused too.
Failure begin(Handle folder, const std::string& name, const std::vector<unsigned char>& bytes,
              const FileStatus* expected, bool planted, Replacement& replacement)
{
    FileStatus found;
    FileStatus opened;
    FileStatus folderStatus;
    Handle original;
    Failure failure = statusAt(folder, name, found, &folderStatus);
    if (!failure.failed() && expected != nullptr && !found.sameFileAndContents(*expected))
        failure = Failure::of(Failure::Kind::changed);
    if (!failure.failed())
        failure = refusal(found, planted);
    // The original is opened for its metadata, and must be the file found.
    if (!failure.failed() && found.type == FileStatus::Type::regular) {
        failure = openAt(folder, name, original);
        if (!failure.failed())
            failure = statusOf(original, opened);
        if (!failure.failed() && !opened.sameFileAndContents(found))
            failure = Failure::of(Failure::Kind::changed);
    }
    // A folder that refuses the move would also refuse removing the
    // temporary file, so it is refused before anything is created there.
    if (!failure.failed() && folderStatus.fixed)
        failure = Failure::of(Failure::Kind::notReplaceable);
    if (failure.failed())
        return failure;

    Replacement made;
    Slot& slot = claimSlot();
    made.slot = int(&slot - slots);
    slot.folder = folder.native;
    // Without a name until the move, where the file system allows it, so
    // that even a kill that cannot be caught leaves nothing behind.
    made.unnamed = !createUnnamedAt(folder, original.valid(), made.file).failed();
    if (!made.unnamed)
        failure = nameTemporary(name, slot, [&](const std::string& temporary) {
            return createAt(folder, temporary, original.valid(), made.file);
        });
    if (failure.failed())
        return failure;
    made.folder = std::move(folder);
    made.name = name;
    made.found = found;
    failure = writeAll(made.file, bytes.data(), bytes.size());
    // After the data, since writing would clear set-id bits and capabilities.
    if (!failure.failed() && original.valid())
        failure = copyMetadata(original, made.file);
    if (!failure.failed())
        replacement = std::move(made);
    return failure;
}

// Reads what is left of file into bytes; see readFile.
Failure readAll(const Handle& file, const FileStatus& status, std::vector<unsigned char>& bytes)
{
    // The signature and header first. Then one byte more than the stated
    // size lets the read that finds the end succeed without growing the
    // buffer; pipes and files that grow still work, the buffer doubling.
    bytes.resize(33);
    size_t used = 0;
    for (;;) {
        if (used == bytes.size()) {
            if (used == 33 && !startsLikePng(bytes))
                break;
            const bool first = used == 33 && status.type == FileStatus::Type::regular;
            bytes.resize(first ? std::max<size_t>(size_t(status.size) + 1, 66) : used * 2);
        }
        size_t done = 0;
        if (const Failure failure = readSome(file, bytes.data() + used, bytes.size() - used, done); failure.failed()) {
            bytes.clear();
            return failure;
        }
        if (done == 0)
            break;
        used += done;
    }
    bytes.resize(used);
    return Failure();
}

} // namespace

Failure readFile(const std::string& path, std::vector<unsigned char>& bytes)
{
    bytes.clear();
    Handle file;
    FileStatus status;
    // A link that another user planted is refused as a write refuses it;
    // where the walk cannot go, as through the links of /proc that stand for
    // pipes, the system's own open follows the path.
    Handle folder;
    std::string name;
    if (const Failure walk = openFolderOf(path, folder, name); walk.kind == Failure::Kind::denied)
        return walk;
    Failure failure = openPath(path, file);
    if (!failure.failed())
        failure = statusOf(file, status);
    if (!failure.failed() && status.type == FileStatus::Type::folder)
        failure = Failure::of(Failure::Kind::folder);
    return failure.failed() ? failure : readAll(file, status, bytes);
}

Failure findForRewrite(const std::string& path, SourceFile& source)
{
    source = SourceFile();
    const Failure failure = openFolderOf(path, source.folder, source.name);
    return failure.failed() ? failure : statusOf(source.folder, source.folderStatus);
}

Failure readForRewrite(SourceFile& source, std::vector<unsigned char>& bytes)
{
    bytes.clear();
    FileStatus named;
    Handle file;
    Failure failure = statusAt(source.folder, source.name, named);
    if (!failure.failed())
        failure = notAFile(named);
    if (!failure.failed())
        failure = openAt(source.folder, source.name, file);
    if (!failure.failed())
        failure = statusOf(file, source.status);
    // Another file put in its place since the look is read if it is a
    // regular one: its own status is what the rewrite will expect.
    if (!failure.failed())
        failure = notAFile(source.status);
    return failure.failed() ? failure : readAll(file, source.status, bytes);
}

Replacement::Replacement(Replacement&& other) noexcept { *this = std::move(other); }

Replacement& Replacement::operator=(Replacement&& other) noexcept
{
    std::swap(folder, other.folder);
    std::swap(name, other.name);
    std::swap(found, other.found);
    std::swap(file, other.file);
    std::swap(slot, other.slot);
    std::swap(unnamed, other.unnamed);
    return *this;
}

Replacement::~Replacement()
{
    if (slot < 0)
        return;
    file = Handle();
    if (slots[slot].state == created)
        removeAt(slots[slot].folder, slots[slot].name);
    slots[slot].state = freeSlot;
}

Failure beginNewFile(const std::string& path, const std::vector<unsigned char>& bytes, Replacement& replacement)
{
    Handle folder;
    std::string name;
    const Failure failure = openFolderOf(path, folder, name);
    return failure.failed() ? failure : begin(std::move(folder), name, bytes, nullptr, true, replacement);
}

Failure beginRewrite(SourceFile& source, const std::vector<unsigned char>& bytes, Replacement& replacement)
{
    return begin(std::move(source.folder), source.name, bytes, &source.status, false, replacement);
}

Failure finish(Replacement& replacement)
{
    Slot& slot = slots[replacement.slot];
    // On disk before the move, so that a crash leaves the old file or the
    // new one, never one whose data had not yet been written.
    Failure failure = flush(replacement.file);
    if (!failure.failed())
        failure = keepWhenClosed(replacement.file);
    // The last look, which leaves only the moment between it and the move.
    FileStatus now;
    if (!failure.failed())
        failure = statusAt(replacement.folder, replacement.name, now);
    if (!failure.failed() && !now.sameFileAndContents(replacement.found))
        failure = Failure::of(Failure::Kind::changed);
    // A rename needs a name to move, given only now.
    if (!failure.failed() && replacement.unnamed)
        failure = nameTemporary(replacement.name, slot, [&](const std::string& temporary) {
            return linkAt(replacement.file, replacement.folder, temporary);
        });
    const Failure closed = replacement.file.close();
    if (!failure.failed())
        failure = closed;
    if (!failure.failed())
        failure = moveAt(replacement.folder, slot.name, replacement.name,
                         replacement.found.type == FileStatus::Type::regular);
    if (!failure.failed())
        slot.state = claimed; // moved: nothing left to remove
    replacement = Replacement();
    return failure;
}

Failure writeNewFile(const std::string& path, const std::vector<unsigned char>& bytes)
{
    Replacement replacement;
    const Failure failure = beginNewFile(path, bytes, replacement);
    return failure.failed() ? failure : finish(replacement);
}

void removeTemporaryFiles()
{
    ending = true;
    for (Slot& slot : slots) {
        int state;
        // A file being created on another thread is recorded in a moment.
        while ((state = slot.state.load()) == creating) {
        }
        if (state == created)
            removeAt(slot.folder, slot.name);
    }
}
