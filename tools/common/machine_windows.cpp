#include "machine.h"

#include <algorithm>
#include <limits>

#include <windows.h>

size_t processorsGranted()
{
    DWORD_PTR process = 0, system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system) || process == 0)
        return std::max<size_t>(GetActiveProcessorCount(ALL_PROCESSOR_GROUPS), 1);
    size_t count = 0;
    for (; process != 0; process &= process - 1)
        ++count;
    return count;
}

// Threads reserve their stacks' address space beside the pixels, but a
// 64-bit process has more of it than any machine has memory.
uint64_t memoryGranted(size_t)
{
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    uint64_t granted =
        GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : std::numeric_limits<uint64_t>::max();
    // A job object may limit the process, or all of the job's together.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION job = {};
    if (QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &job, sizeof job,
                                  nullptr)) {
        if (job.BasicLimitInformation.LimitFlags & JOB_OBJECT_LIMIT_PROCESS_MEMORY)
            granted = std::min<uint64_t>(granted, job.ProcessMemoryLimit);
        if (job.BasicLimitInformation.LimitFlags & JOB_OBJECT_LIMIT_JOB_MEMORY)
            granted = std::min<uint64_t>(granted, job.JobMemoryLimit);
    }
    return granted;
}

// A job's memory limit is fixed, and memoryGranted counts it already.
uint64_t memoryLeftInGroups() { return std::numeric_limits<uint64_t>::max(); }

// Handles are bounded only by memory.
size_t descriptorsLeft() { return std::numeric_limits<size_t>::max(); }
