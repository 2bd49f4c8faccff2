#pragma once

#include <cstddef>
#include <cstdint>

// What this process may really use of the machine, as the system grants it
// rather than as the machine has it; each is read afresh when asked. A
// limit that cannot be read, or holds no number, is taken as none.

// The processors this process may run on: those of its affinity mask, and
// no more than a control group's CPU quota allows, rounded up; at least 1.
size_t processorsGranted();

// Where the address space is bounded (ulimit -v), startProcess gives each
// thread started beside the first a stack of threadStack bytes, and has them
// share the allocator's first arena rather than reserve 64 MiB each for one
// of their own, so that each reserves no more than threadAddressSpace, its
// guard pages included.
constexpr uint64_t threadStack = uint64_t(1) << 20;
constexpr uint64_t threadAddressSpace = threadStack + (64 << 10);

// The memory this process may have: the least of the physical memory, the
// limit of its memory control group and those of the groups above it, and
// what its address-space limit leaves beside what it maps already and what
// threads more will reserve (see threadAddressSpace).
uint64_t memoryGranted(size_t threads = 0);

// What this process's memory control groups leave it now, read afresh at
// each call: for each group with a limit below the physical memory, and
// each above it, the limit less what the group holds that cannot be
// reclaimed (its usage less its file cache) beside this process's own
// memory; the least of those. UINT64_MAX where no group has such a limit,
// or none can be read.
uint64_t memoryLeftInGroups();

// How many more files this process may hold open at once; SIZE_MAX where
// there is no limit.
size_t descriptorsLeft();

// What a run may use of memory that it may have: three quarters, the rest
// left for what the tool holds beside the files' needs and for estimates
// that fall short.
inline uint64_t usableShare(uint64_t memory)
{
    return memory == UINT64_MAX ? memory : memory / 4 * 3;
}

// The memory a run with threads threads beside the first may use when
// --memory does not say.
inline uint64_t defaultMemoryBudget(size_t threads = 0)
{
    return usableShare(memoryGranted(threads));
}

// What a run may use of what its memory control groups leave it now, so
// that memory that other processes or files on tmpfs take from a group as
// the run goes on never gets it killed.
inline uint64_t memoryRoomInGroups() { return usableShare(memoryLeftInGroups()); }
