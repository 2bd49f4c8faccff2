#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

// Runs work(worker, i) for each i from 0 to count - 1 on jobs threads, each
// i once, taken in order. A result for which unsettled(result) holds is then
// passed to settle(result) on one of settlers threads more, for the part of
// the work that mostly waits (a flush), so that the workers go on meanwhile.
// Each result is handed to emit(i, result) in the order of i, as soon as it
// and every one before it are done, by whichever thread finished the last of
// them, one emit at a time. worker, below jobs, names the thread, so that
// each can keep state of its own. No work starts more than jobs + settlers
// places ahead of emit, so that memory stays near that of jobs pieces of work
// at once. With one job and no settlers, everything runs on the calling
// thread, one i after another. None of the callables may throw.
template <typename Work, typename Unsettled, typename Settle, typename Emit>
void forEachInOrder(size_t count, size_t jobs, size_t settlers, Work work, Unsettled unsettled, Settle settle,
                    Emit emit)
{
    using Result = decltype(work(size_t(0), size_t(0)));
    if (jobs <= 1 && settlers == 0) {
        for (size_t i = 0; i < count; ++i) {
            Result result = work(0, i);
            if (unsettled(result))
                settle(result);
            emit(i, result);
        }
        return;
    }
    struct Entry {
        std::optional<Result> result;
        bool done = false;
    };
    std::mutex mutex;
    // Each kind of thread waits on a signal of its own, so that a change
    // wakes only a thread that can act on it.
    std::condition_variable roomAhead, toSettle;
    // The entries from index next on; elements of a deque stay where they
    // are while others come and go at its ends.
    std::deque<Entry> window;
    std::deque<Entry*> queue;
    size_t next = 0;
    // Results emitted and gone, which is what frees room for more work.
    size_t emitted = 0;
    size_t taken = 0;
    // Workers not yet done, counted before any starts; settlers stop once
    // it is 0 and nothing is left to settle.
    size_t working = jobs;
    bool emitting = false;
    const size_t ahead = jobs + settlers;

    // Marks entry done and, unless another thread is at it, emits whatever
    // is done from the front on; called and returns with the lock held.
    auto finished = [&](Entry& entry, std::unique_lock<std::mutex>& lock) {
        entry.done = true;
        if (emitting)
            return;
        emitting = true;
        while (!window.empty() && window.front().done) {
            std::optional<Result> result = std::move(window.front().result);
            window.pop_front();
            const size_t i = next++;
            lock.unlock();
            emit(i, *result);
            // Gone before its place is given to the next piece of work.
            result.reset();
            lock.lock();
            ++emitted;
            roomAhead.notify_one();
        }
        emitting = false;
    };
    auto worker = [&](size_t self) {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            roomAhead.wait(lock, [&] { return taken == count || taken < emitted + ahead; });
            if (taken == count)
                break;
            const size_t i = taken++;
            lock.unlock();
            Result result = work(self, i);
            const bool waits = unsettled(result);
            if (waits && settlers == 0)
                settle(result);
            lock.lock();
            if (window.size() <= i - next)
                window.resize(i - next + 1);
            Entry& entry = window[i - next];
            entry.result = std::move(result);
            if (waits && settlers > 0) {
                queue.push_back(&entry);
                toSettle.notify_one();
            } else {
                finished(entry, lock);
            }
        }
        if (--working == 0)
            toSettle.notify_all();
        roomAhead.notify_all();
    };
    auto settler = [&] {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            toSettle.wait(lock, [&] { return !queue.empty() || working == 0; });
            if (queue.empty())
                return;
            Entry& entry = *queue.front();
            queue.pop_front();
            lock.unlock();
            settle(*entry.result);
            lock.lock();
            finished(entry, lock);
        }
    };
    // As many threads as the system grants, settlers first; without any
    // workers the calling thread is the one, and without any settlers the
    // workers settle their own results.
    std::vector<std::thread> threads;
    try {
        for (size_t i = 0; i < settlers; ++i)
            threads.emplace_back(settler);
    } catch (const std::system_error&) {
    }
    std::unique_lock<std::mutex> lock(mutex);
    settlers = threads.size();
    lock.unlock();
    size_t started = 0;
    try {
        for (; started < jobs; ++started)
            threads.emplace_back(worker, started);
    } catch (const std::system_error&) {
    }
    // Those that never started are uncounted; those that did may be done
    // already, and stay uncounted.
    const bool alone = started == 0;
    lock.lock();
    working -= jobs - std::max<size_t>(started, 1);
    if (working == 0)
        toSettle.notify_all();
    lock.unlock();
    if (alone)
        worker(0);
    for (std::thread& thread : threads)
        thread.join();
}
