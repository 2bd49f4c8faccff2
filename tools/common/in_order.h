#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// Runs work(worker, i) for each i from 0 to count - 1 on up to jobs threads at
// once, each i once, taken in order, and hands each result to emit(i, result)
// on the calling thread in the order of i, each as soon as it and every one
// before it are done. worker, below jobs, names the thread, so that each can
// keep state of its own. With one job everything runs on the calling thread,
// one i after another. No more than jobs results wait to be emitted at a
// time beyond the one emit waits for, so memory stays near jobs times that of
// one piece of work. Neither work nor emit may throw.
template <typename Work, typename Emit>
void forEachInOrder(size_t count, size_t jobs, Work work, Emit emit)
{
    using Result = decltype(work(size_t(0), size_t(0)));
    if (jobs <= 1 || count <= 1) {
        for (size_t i = 0; i < count; ++i) {
            Result result = work(0, i);
            emit(i, result);
        }
        return;
    }
    std::mutex mutex;
    std::condition_variable changed;
    // Results from next on, by index; the next index to hand out.
    std::deque<std::optional<Result>> done;
    size_t next = 0;
    size_t taken = 0;
    auto worker = [&](size_t self) {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            // A worker never runs further ahead of emit than the others can
            // fill, so that results cannot pile up behind one slow file.
            changed.wait(lock, [&] { return taken == count || taken < next + jobs; });
            if (taken == count)
                return;
            const size_t i = taken++;
            lock.unlock();
            Result result = work(self, i);
            lock.lock();
            if (done.size() <= i - next)
                done.resize(i - next + 1);
            done[i - next] = std::move(result);
            changed.notify_all();
        }
    };
    std::vector<std::thread> threads;
    for (size_t self = 0; self < std::min(jobs, count); ++self)
        threads.emplace_back(worker, self);
    for (size_t i = 0; i < count; ++i) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return !done.empty() && done.front().has_value(); });
        Result result = std::move(*done.front());
        done.pop_front();
        ++next;
        changed.notify_all();
        lock.unlock();
        emit(i, result);
    }
    for (std::thread& thread : threads)
        thread.join();
}
