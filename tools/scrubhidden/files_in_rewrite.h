#pragma once

#include <condition_variable>
#include <mutex>
#include <set>

#include "file.h"

// The files that jobs are rewriting, each known by its place and by what it
// is (no lock of the system's: other programs see nothing of it), so that a
// file named twice, under any names, hard links included, is read by a job
// only once the one before it is done with it, and the later job sees what
// the earlier left, as with one job.
struct FilesInRewrite {
    std::mutex mutex;
    std::condition_variable released;
    std::set<FileKey> held;

    // Waits until no other job holds key, then holds it.
    void hold(const FileKey& key)
    {
        std::unique_lock<std::mutex> lock(mutex);
        released.wait(lock, [&] { return held.count(key) == 0; });
        held.insert(key);
    }

    void release(const FileKey& key)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        held.erase(key);
        released.notify_all();
    }
};
