#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

// Pieces of work numbered 0 to count - 1, done on several threads and passed
// on in their order, in four stages:
//
//   take   a worker takes the lowest piece not yet started, once fewer than
//          jobs + flushers pieces are under way (taken and not yet emitted),
//          so that memory stays near that of that many pieces at once;
//   work   the worker does it, as work(worker, piece); worker, below jobs,
//          names the thread, so that each can keep state of its own;
//   flush  a result for which needsFlush holds is passed to flush on one of
//          flushers threads more, for the part of the work that mostly waits
//          (a flush to disk), while the worker goes on;
//   emit   the calling thread passes each result to emit, in the order of
//          the pieces, as soon as it and every one before it are done.
//
// As many threads are started as the system grants: without any flusher the
// workers flush their own results, and without any worker the calling thread
// does every stage, one piece after another. None of the stages may throw.
template <typename Result> struct OrderedPool {
    size_t jobs = 1;
    size_t flushers = 0;
    std::function<Result(size_t worker, size_t piece)> work;
    std::function<bool(const Result&)> needsFlush = [](const Result&) { return false; };
    std::function<void(Result&)> flush;
    std::function<void(size_t piece, Result&)> emit;

    void run(size_t count);

private:
    struct Entry {
        std::optional<Result> result;
        bool done = false;
    };
    std::mutex mutex;
    // Each waits on a signal of its own, so that a change wakes only a thread
    // that can act on it: workers for room, flushers for results to flush,
    // the calling thread for the next result done.
    std::condition_variable room, toFlush, frontDone;
    // The pieces taken and not yet emitted, from the one numbered emitted on;
    // elements of a deque stay where they are while others come and go at
    // its ends.
    std::deque<Entry> window;
    std::deque<size_t> flushQueue;
    size_t count = 0;
    size_t taken = 0;
    size_t emitted = 0;
    // Workers not yet done, counted before any starts; flushers stop once it
    // is 0 and nothing is left to flush.
    size_t working = 0;
    size_t flushing = 0;

    void worker(size_t self);
    void flusher();
    void finished(size_t piece);
    void runAlone();
};

// Called with the lock held.
template <typename Result> void OrderedPool<Result>::finished(size_t piece)
{
    window[piece - emitted].done = true;
    if (piece == emitted)
        frontDone.notify_one();
}

template <typename Result> void OrderedPool<Result>::worker(size_t self)
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        room.wait(lock, [&] { return taken == count || taken < emitted + jobs + flushers; });
        if (taken == count)
            break;
        const size_t piece = taken++;
        // Those waiting for room need wait no more.
        if (taken == count)
            room.notify_all();
        if (window.size() <= piece - emitted)
            window.resize(piece - emitted + 1);
        const bool alone = flushing == 0;
        lock.unlock();
        Result result = work(self, piece);
        const bool waits = needsFlush(result);
        if (waits && alone)
            flush(result);
        lock.lock();
        window[piece - emitted].result = std::move(result);
        if (waits && !alone) {
            flushQueue.push_back(piece);
            toFlush.notify_one();
        } else {
            finished(piece);
        }
    }
    if (--working == 0)
        toFlush.notify_all();
}

template <typename Result> void OrderedPool<Result>::flusher()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        toFlush.wait(lock, [&] { return !flushQueue.empty() || working == 0; });
        if (flushQueue.empty())
            return;
        const size_t piece = flushQueue.front();
        flushQueue.pop_front();
        // Not emitted before it is done, so its entry stays where it is.
        Result& result = *window[piece - emitted].result;
        lock.unlock();
        flush(result);
        lock.lock();
        finished(piece);
    }
}

template <typename Result> void OrderedPool<Result>::runAlone()
{
    for (size_t piece = 0; piece < count; ++piece) {
        Result result = work(0, piece);
        if (needsFlush(result))
            flush(result);
        emit(piece, result);
    }
}

template <typename Result> void OrderedPool<Result>::run(size_t pieces)
{
    count = pieces;
    taken = emitted = 0;
    working = jobs;
    std::vector<std::thread> threads;
    try {
        for (; flushing < flushers; ++flushing)
            threads.emplace_back([this] { flusher(); });
    } catch (const std::system_error&) {
    }
    size_t started = 0;
    try {
        for (; started < jobs; ++started)
            threads.emplace_back([this, started] { worker(started); });
    } catch (const std::system_error&) {
    }
    std::unique_lock<std::mutex> lock(mutex);
    // Those that never started are uncounted; those that did may be done
    // already, and stay uncounted.
    working -= jobs - started;
    if (working == 0)
        toFlush.notify_all();
    lock.unlock();
    if (started == 0) {
        for (std::thread& thread : threads)
            thread.join();
        runAlone();
        return;
    }
    for (size_t piece = 0; piece < count; ++piece) {
        lock.lock();
        frontDone.wait(lock, [&] { return !window.empty() && window.front().done; });
        std::optional<Result> result = std::move(window.front().result);
        lock.unlock();
        emit(piece, *result);
        // Gone before its place is given to the next piece.
        result.reset();
        lock.lock();
        window.pop_front();
        ++emitted;
        room.notify_one();
        lock.unlock();
    }
    for (std::thread& thread : threads)
        thread.join();
}
