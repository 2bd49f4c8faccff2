#pragma once

#include <cstddef>
#include <cstdint>

// What this process may really use of the machine, as the system grants it
// rather than as the machine has it; each is read afresh when asked. A
// limit that cannot be read, or holds no number, is taken as none.

// The processors this process may run on: those of its affinity mask, and
// no more than a control group's CPU quota allows, rounded up; at least 1.
size_t processorsGranted();

// The memory this process may have: the least of the physical memory, the
// limit of its memory control group and those of the groups above it, and
// what its address-space limit leaves beside what it maps already.
uint64_t memoryGranted();

// How many more files this process may hold open at once; SIZE_MAX where
// there is no limit.
size_t descriptorsLeft();
