#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

// Pieces of work numbered 0 to count - 1, done on several threads and passed
// on in their order, in five stages:
//
//   plan   a worker plans each piece ahead, in order, as plan(piece): what it
//          will need (the Plan's member need, in bytes of memory) and
//          whatever work should find ready; no more than window pieces are
//          planned or started and not yet emitted, since each may hold files
//          open;
//   take   a worker takes, among the pieces planned and not yet started, the
//          one with the largest need (the lowest of equals), once it fits
//          within budget beside the needs of the pieces at work, and within
//          what memoryLeft() says is left beside them; one that needs more
//          than the whole budget is taken at once, needing nothing, for work
//          to refuse, and so is one that needs more than memoryLeft() while
//          no piece is at work, with the Plan's member left set to that;
//   work   the worker does it, as work(worker, piece, plan); worker, below
//          jobs, names the thread, so that each can keep state of its own;
//          its need is given back once work returns;
//   flush  a result for which needsFlush holds is passed to flush on one of
//          flushers threads more, for the part of the work that mostly waits
//          (a flush to disk), while the worker goes on;
//   emit   the calling thread passes each result to emit, in the order of
//          the pieces, as soon as it and every one before it are done, and
//          calls tick with the number emitted every tickEvery or so.
//
// As many threads are started as the system grants: without any flusher the
// workers flush their own results, and without any worker the calling thread
// does every stage, one piece after another. None of the stages may throw.
template <typename Plan, typename Result> struct OrderedPool {
    size_t jobs = 1;
    size_t flushers = 0;
    // 0 for jobs + flushers.
    size_t window = 0;
    uint64_t budget = std::numeric_limits<uint64_t>::max();
    std::function<uint64_t()> memoryLeft = [] { return std::numeric_limits<uint64_t>::max(); };
    std::function<Plan(size_t piece)> plan;
    std::function<Result(size_t worker, size_t piece, Plan& plan)> work;
    std::function<bool(const Result&)> needsFlush = [](const Result&) { return false; };
    std::function<void(Result&)> flush;
    std::function<void(size_t piece, Result&)> emit;
    std::function<void(size_t emitted)> tick = [](size_t) {};
    std::chrono::milliseconds tickEvery{250};

    void run(size_t count);

private:
    struct Entry {
        std::optional<Plan> plan;
        std::optional<Result> result;
        bool planned = false;
        bool started = false;
        bool done = false;
    };
    std::mutex mutex;
    // Each waits on a signal of its own, so that a change wakes only a thread
    // that can act on it: workers for room, flushers for results to flush,
    // the calling thread for the next result done.
    std::condition_variable room, toFlush, frontDone;
    // The pieces planned and not yet emitted, from the one numbered emitted
    // on; elements of a deque stay where they are while others come and go at
    // its ends.
    std::deque<Entry> entries;
    std::deque<size_t> flushQueue;
    size_t count = 0;
    size_t planned = 0;
    size_t taken = 0;
    size_t emitted = 0;
    uint64_t inUse = 0;
    size_t atWork = 0;
    // Workers not yet done, counted before any starts; flushers stop once it
    // is 0 and nothing is left to flush.
    size_t working = 0;
    size_t flushing = 0;

    Entry& entry(size_t piece) { return entries[piece - emitted]; }
    size_t largestWaiting();
    std::chrono::steady_clock::time_point lastTick;

    void tickIfDue(size_t done);
    void worker(size_t self);
    void flusher();
    void finished(size_t piece);
    void runAlone();
};

// The piece planned, not started, with the largest need, or count while
// another is being planned and may need more; called with the lock held.
template <typename Plan, typename Result> size_t OrderedPool<Plan, Result>::largestWaiting()
{
    size_t best = count;
    for (size_t piece = emitted; piece < planned; ++piece) {
        const Entry& candidate = entry(piece);
        if (!candidate.planned)
            return count;
        if (!candidate.started && (best == count || candidate.plan->need > entry(best).plan->need))
            best = piece;
    }
    return best;
}

// Called on the calling thread, without the lock.
template <typename Plan, typename Result> void OrderedPool<Plan, Result>::tickIfDue(size_t done)
{
    const auto now = std::chrono::steady_clock::now();
    if (now - lastTick >= tickEvery)
        lastTick = now, tick(done);
}

// Called with the lock held.
template <typename Plan, typename Result> void OrderedPool<Plan, Result>::finished(size_t piece)
{
    entry(piece).done = true;
    if (piece == emitted)
        frontDone.notify_one();
}

template <typename Plan, typename Result> void OrderedPool<Plan, Result>::worker(size_t self)
{
    std::unique_lock<std::mutex> lock(mutex);
    while (taken < count) {
        if (planned < count && planned < emitted + window) {
            const size_t piece = planned++;
            entries.resize(planned - emitted);
            lock.unlock();
            Plan made = plan(piece);
            lock.lock();
            entry(piece).plan = std::move(made);
            entry(piece).planned = true;
            room.notify_all();
            continue;
        }
        const size_t piece = largestWaiting();
        const uint64_t need = piece == count ? 0 : entry(piece).plan->need;
        const uint64_t reserved = need > budget ? 0 : need;
        if (piece == count || reserved > budget - inUse) {
            room.wait(lock);
            continue;
        }
        const uint64_t left = reserved == 0 ? std::numeric_limits<uint64_t>::max() : memoryLeft();
        if (reserved > left || inUse > left - reserved) {
            if (atWork > 0) {
                room.wait(lock);
                continue;
            }
            entry(piece).plan->left = left;
        }
        Entry& taking = entry(piece);
        taking.started = true;
        inUse += reserved;
        ++atWork;
        // Those waiting for room need wait no more.
        if (++taken == count)
            room.notify_all();
        const bool alone = flushing == 0;
        lock.unlock();
        Result result = work(self, piece, *taking.plan);
        const bool waits = needsFlush(result);
        if (waits && alone)
            flush(result);
        lock.lock();
        inUse -= reserved;
        --atWork;
        room.notify_all();
        taking.plan.reset();
        taking.result = std::move(result);
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

template <typename Plan, typename Result> void OrderedPool<Plan, Result>::flusher()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        toFlush.wait(lock, [&] { return !flushQueue.empty() || working == 0; });
        if (flushQueue.empty())
            return;
        const size_t piece = flushQueue.front();
        flushQueue.pop_front();
        // Not emitted before it is done, so its entry stays where it is.
        Result& result = *entry(piece).result;
        lock.unlock();
        flush(result);
        lock.lock();
        finished(piece);
    }
}

template <typename Plan, typename Result> void OrderedPool<Plan, Result>::runAlone()
{
    for (size_t piece = 0; piece < count; ++piece) {
        Plan made = plan(piece);
        if (const uint64_t left = memoryLeft(); made.need <= budget && made.need > left)
            made.left = left;
        Result result = work(0, piece, made);
        if (needsFlush(result))
            flush(result);
        emit(piece, result);
        tickIfDue(piece + 1);
    }
}

template <typename Plan, typename Result> void OrderedPool<Plan, Result>::run(size_t pieces)
{
    count = pieces;
    window = window == 0 ? jobs + flushers : window;
    lastTick = std::chrono::steady_clock::now();
    working = jobs;
    std::vector<std::thread> threads;
    // One worker alone starts none, and keeps its work on this thread.
    try {
        for (; flushing < flushers && (jobs > 1 || flushers > 0); ++flushing)
            threads.emplace_back([this] { flusher(); });
    } catch (const std::system_error&) {
    }
    size_t started = 0;
    try {
        for (; started < jobs && (jobs > 1 || flushers > 0); ++started)
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
        while (!frontDone.wait_for(lock, tickEvery,
                                   [&] { return !entries.empty() && entries.front().done; })) {
            lock.unlock();
            tickIfDue(piece);
            lock.lock();
        }
        std::optional<Result> result = std::move(entries.front().result);
        lock.unlock();
        emit(piece, *result);
        // Gone before its place is given to the next piece.
        result.reset();
        lock.lock();
        entries.pop_front();
        ++emitted;
        room.notify_all();
        lock.unlock();
        tickIfDue(piece + 1);
    }
    for (std::thread& thread : threads)
        thread.join();
}
