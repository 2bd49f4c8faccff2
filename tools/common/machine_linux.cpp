#include "machine.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <dirent.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include "left_after.h"

namespace {
const uint64_t unlimited = std::numeric_limits<uint64_t>::max();

// The first word of a file, or "" where it cannot be read.
std::string firstWord(const std::string& path)
{
    std::ifstream in(path);
    std::string word;
    in >> word;
    return word;
}

// The whole number word is, or unlimited where it is none, as with "max"
// or "-1", or one too large to hold: what the kernel writes is trusted no
// further than that.
uint64_t numberOf(const std::string& word)
{
    uint64_t number = 0;
    const char* end = word.data() + word.size();
    const auto [at, error] = std::from_chars(word.data(), end, number);
    return error == std::errc() && at == end && !word.empty() ? number : unlimited;
}

uint64_t numberIn(const std::string& path) { return numberOf(firstWord(path)); }

uint64_t pageSize() { return uint64_t(sysconf(_SC_PAGESIZE)); }

uint64_t physicalMemory() { return uint64_t(sysconf(_SC_PHYS_PAGES)) * pageSize(); }

// The folder of each control group this process belongs to for controller,
// and those above it, from /proc/self/cgroup: for version 2, where the
// controller's files sit beside every group, and for version 1, under the
// controller's own mount. Each is passed to visit, innermost first.
template <typename Visit> void eachGroup(const std::string& controller, Visit visit)
{
    std::ifstream in("/proc/self/cgroup");
    for (std::string line; std::getline(in, line);) {
        const size_t first = line.find(':');
        const size_t second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos)
            continue;
        std::stringstream list(line.substr(first + 1, second - first - 1));
        bool named = false;
        for (std::string name; std::getline(list, name, ',');)
            named = named || name == controller;
        const bool unified = line.compare(0, 3, "0::") == 0;
        if (!named && !unified)
            continue;
        const std::string root = unified ? "/sys/fs/cgroup" : "/sys/fs/cgroup/" + controller;
        for (std::string group = line.substr(second + 1);; group.erase(group.rfind('/'))) {
            visit(root + (group == "/" ? "" : group), unified);
            if (group.empty() || group == "/" || group.rfind('/') == std::string::npos)
                break;
        }
    }
}
} // namespace

size_t processorsGranted()
{
    cpu_set_t set;
    size_t count = sched_getaffinity(0, sizeof set, &set) == 0 ? size_t(CPU_COUNT(&set)) : 1;
    eachGroup("cpu", [&](const std::string& folder, bool unified) {
        std::ifstream in(folder + (unified ? "/cpu.max" : "/cpu.cfs_quota_us"));
        std::string quota, period;
        in >> quota >> period;
        if (!unified)
            period = firstWord(folder + "/cpu.cfs_period_us");
        const uint64_t share = numberOf(quota), each = std::max<uint64_t>(numberOf(period), 1);
        if (share == unlimited || each == unlimited)
            return;
        count = std::min<size_t>(count, size_t(share / each + (share % each != 0)));
    });
    return std::max<size_t>(count, 1);
}

uint64_t memoryGranted(size_t threads)
{
    uint64_t granted = physicalMemory();
    eachGroup("memory", [&](const std::string& folder, bool unified) {
        granted = std::min(granted,
                           numberIn(folder + (unified ? "/memory.max" : "/memory.limit_in_bytes")));
    });
    rlimit space;
    if (getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY) {
        // What is mapped already, in pages, comes first in statm.
        const uint64_t pages = numberIn("/proc/self/statm"),
                       mapped = (pages == unlimited ? 0 : pages * pageSize()) +
                                threads * threadAddressSpace;
        granted = std::min<uint64_t>(granted, leftAfter<uint64_t>(space.rlim_cur, mapped));
    }
    return granted;
}

uint64_t memoryLeftInGroups()
{
    // Where each group with a limit keeps its figures, found once.
    struct Group {
        std::string limit, usage, stat, prefix;
    };
    static const std::vector<Group> groups = [] {
        std::vector<Group> found;
        eachGroup("memory", [&](const std::string& folder, bool unified) {
            Group group = {folder + (unified ? "/memory.max" : "/memory.limit_in_bytes"),
                           folder + (unified ? "/memory.current" : "/memory.usage_in_bytes"),
                           folder + "/memory.stat", unified ? "" : "total_"};
            if (numberIn(group.limit) < physicalMemory())
                found.push_back(group);
        });
        return found;
    }();
    uint64_t left = unlimited;
    if (groups.empty())
        return left;
    // What this process holds of its own is no other's: its resident pages
    // less those shared with files, which the file cache counts.
    std::ifstream statm("/proc/self/statm");
    uint64_t size{}, resident{}, shared{};
    statm >> size >> resident >> shared;
    const uint64_t own = leftAfter(resident, shared) * pageSize();
    for (const Group& group : groups) {
        // The file cache, active or not, is given back as soon as the group
        // is short, though the kubelet counts the active part: this tool's
        // reads alone make it grow. Files on tmpfs and other processes'
        // memory are no part of it.
        uint64_t cache = 0;
        std::ifstream stat(group.stat);
        for (std::string key, value; stat >> key >> value;)
            if (key == group.prefix + "active_file" || key == group.prefix + "inactive_file")
                cache += numberOf(value) == unlimited ? 0 : numberOf(value);
        const uint64_t limit = numberIn(group.limit), usage = numberIn(group.usage);
        if (limit == unlimited || usage == unlimited)
            continue;
        const uint64_t held = leftAfter(usage, cache + own);
        left = std::min(left, leftAfter(limit, held));
    }
    return left;
}

size_t descriptorsLeft()
{
    rlimit files;
    if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY)
        return std::numeric_limits<size_t>::max();
    uint64_t open = 0;
    if (DIR* folder = opendir("/proc/self/fd")) {
        // ".", ".." and the listing's own descriptor are not the process's.
        const std::string own = std::to_string(dirfd(folder));
        while (const dirent* entry = readdir(folder))
            open += entry->d_name[0] != '.' && entry->d_name != own;
        closedir(folder);
    }
    return size_t(leftAfter<uint64_t>(files.rlim_cur, open));
}
