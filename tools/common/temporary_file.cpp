#include "temporary_file.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <random>
#include <utility>

// A handler that runs as the process ends, on whichever thread, removes every
// temporary file that has a name, walking records that are never freed and
// change state atomically, so that it needs no lock and no allocation.
// Records come in blocks, linked as they are made; each write under way
// holds one record, which moves between these states:
//
//   free    -> held      the writing thread claims it (TemporaryFile::in)
//   held    -> naming    the thread is about to give the file a name, with the
//                        signals that would end the process held off it
//   naming  -> named     the name now exists on disk
//   naming  -> held      no name was made
//   named   -> held      the thread moved the file into place
//   any     -> free      the thread dropped the file, first removing it if
//                        named
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
    char temporary[1 + 64 + 1 + 6 + 1] = "";
};

namespace {
const size_t randomCharacters = 6;

struct Block {
    TemporaryRecord records[64];
    std::atomic<Block*> next{nullptr};
};

// The first block, and the others after it as they are made; none is freed.
Block first;
std::atomic<bool> ending{false};
std::mutex growing;

void removeTemporaryFiles()
{
    ending = true;
    for (Block* block = &first; block != nullptr; block = block->next.load()) {
        for (TemporaryRecord& record : block->records) {
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
}

// A free record of the block, now held; nullptr where none is free.
TemporaryRecord* claimIn(Block& block)
{
    for (TemporaryRecord& record : block.records) {
        int expected = TemporaryRecord::free;
        if (record.state.compare_exchange_strong(expected, TemporaryRecord::held)) {
            ++record.claims;
            return &record;
        }
    }
    return nullptr;
}

TemporaryRecord& claimRecord()
{
    static std::once_flag handlerInstalled;
    std::call_once(handlerInstalled, [] { removeOnEnding(removeTemporaryFiles); });
    for (Block* block = &first;; block = block->next.load()) {
        if (TemporaryRecord* record = claimIn(*block))
            return *record;
        // One thread at a time adds a block, which the others then see.
        const std::lock_guard<std::mutex> lock(growing);
        if (block->next.load() == nullptr)
            block->next.store(new Block);
    }
}

// The hidden name beside target, kept short so that a target whose name is
// near the file system's limit still gets one, and cut on a whole character
// so that it stays valid UTF-8.
std::string temporaryName(const std::string& target)
{
    size_t keep =
        std::min<size_t>(target.size(), sizeof TemporaryRecord::temporary - 3 - randomCharacters);
    while (keep > 0 && keep < target.size() &&
           (static_cast<unsigned char>(target[keep]) & 0xC0) == 0x80)
        --keep;
    thread_local std::minstd_rand random(std::random_device{}());
    std::string name = "." + target.substr(0, keep) + ".";
    for (size_t i = 0; i < randomCharacters; ++i)
        name += "0123456789abcdefghijklmnopqrstuvwxyz"[random() % 36];
    return name;
}
} // namespace

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept
    : record(std::exchange(other.record, nullptr))
{
}

TemporaryFile& TemporaryFile::operator=(TemporaryFile&& other) noexcept
{
    std::swap(record, other.record);
    return *this;
}

TemporaryFile::~TemporaryFile()
{
    if (record == nullptr)
        return;
    if (record->state == TemporaryRecord::named)
        removeAt(record->folder, record->temporary);
    record->state = TemporaryRecord::free;
}

TemporaryFile TemporaryFile::in(const Handle& folder)
{
    TemporaryFile file;
    file.record = &claimRecord();
    file.record->folder = folder.native;
    file.record->temporary[0] = '\0';
    return file;
}

Failure TemporaryFile::name(const std::string& target,
                            const std::function<Failure(const std::string&)>& make)
{
    Failure failure = Failure::of(Failure::Kind::exists);
    for (int attempt = 0; attempt < 100 && failure.kind == Failure::Kind::exists; ++attempt) {
        const std::string name = temporaryName(target);
        std::memcpy(record->temporary, name.c_str(), name.size() + 1);
        holdSignals();
        // Either a handler that has begun sees this record naming, and waits
        // for it, or this thread sees it ending and makes nothing; what it
        // then reports nobody reads.
        record->state = TemporaryRecord::naming;
        failure = ending ? Failure::of(Failure::Kind::changed) : make(name);
        record->state = failure.failed() ? TemporaryRecord::held : TemporaryRecord::named;
        releaseSignals();
    }
    return failure;
}

const char* TemporaryFile::name() const { return record == nullptr ? "" : record->temporary; }

void TemporaryFile::moved() { record->state = TemporaryRecord::held; }
