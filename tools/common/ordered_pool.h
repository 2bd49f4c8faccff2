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

// Pieces of work that a source gives one after another, done on several
// threads and passed on in the source's order, in six stages:
//
//   next   a worker draws the next piece from the source, as next(item),
//          which fills item and returns false once there are no more; one
//          worker at a time draws, so the source needs no lock of its own;
//   plan   the worker then plans it, as plan(item): what it will need (the
//          Plan's member need, in bytes of memory) and whatever work should
//          find ready; no more than window pieces are drawn or started and
//          not yet emitted, since each may hold files open;
//   take   a worker takes, among the pieces planned and not yet started, the
//          one with the largest need (the earliest of equals), once it fits
//          within budget beside the needs of the pieces at work, and within
//          what memoryLeft() says is left beside them; one that needs more
//          than the whole budget is taken at once, needing nothing, for work
//          to refuse, and so is one that needs more than memoryLeft() while
//          no piece is at work, with the Plan's member left set to that;
//   work   the worker does it, as work(worker, item, plan); worker, below
//          jobs, names the thread, so that each can keep state of its own;
//          its need is given back once work returns;
//   flush  a result for which needsFlush holds is passed to flush on one of
//          flushers threads more, for the part of the work that mostly waits
//          (a flush to disk), while the worker goes on;
//   emit   the calling thread passes each piece and its result to emit, in
//          the source's order, as soon as it and every one before it are
//          done, and calls tick with the number emitted every tickEvery or so.
//
// runOrdered returns once every piece is emitted; all it holds is its own.
// As many threads are started as the system grants: without any flusher the
// workers flush their own results, and without any worker the calling thread
// does every stage, one piece after another. None of the stages may throw.
struct PoolLimits {
    size_t jobs = 1;
    size_t flushers = 0;
    // 0 for jobs + flushers.
    size_t window = 0;
    uint64_t budget = std::numeric_limits<uint64_t>::max();
};

template <typename Item, typename Plan, typename Result> struct PoolStages {
    std::function<bool(Item&)> next;
    std::function<Plan(Item&)> plan;
    std::function<Result(size_t worker, Item&, Plan&)> work;
    std::function<bool(const Result&)> needsFlush = [](const Result&) { return false; };
    std::function<void(Result&)> flush;
    std::function<void(Item&, Result&)> emit;
    std::function<uint64_t()> memoryLeft = [] { return std::numeric_limits<uint64_t>::max(); };
    std::function<void(size_t emitted)> tick = [](size_t) {};
    std::chrono::milliseconds tickEvery{250};
};

namespace ordered_pool {
// What one run holds, gone when it returns.
template <typename Item, typename Plan, typename Result> struct Run {
    using Stages = PoolStages<Item, Plan, Result>;
    static constexpr size_t none = std::numeric_limits<size_t>::max();

    const PoolLimits limits;
    const Stages& stages;
    size_t window;

    struct Entry {
        Item item;
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
    // The pieces drawn and not yet emitted, from the one numbered emitted
    // on; elements of a deque stay where they are while others come and go at
    // its ends.
    std::deque<Entry> entries;
    std::deque<size_t> flushQueue;
    // A worker is drawing from the source, which has ended once drained.
    bool drawing = false;
    bool drained = false;
    size_t drawn = 0;
    size_t taken = 0;
    size_t emitted = 0;
    uint64_t inUse = 0;
    size_t atWork = 0;
    // Workers not yet done, counted before any starts; flushers stop once it
    // is 0 and nothing is left to flush.
    size_t working = 0;
    size_t flushing = 0;
    std::chrono::steady_clock::time_point lastTick = std::chrono::steady_clock::now();

    Run(const PoolLimits& limits, const Stages& stages)
        : limits(limits)
        , stages(stages)
        , window(limits.window == 0 ? limits.jobs + limits.flushers : limits.window)
    {
    }

    Entry& entry(size_t piece) { return entries[piece - emitted]; }
    bool allTaken() const { return drained && taken == drawn; }

    // The piece planned, not started, with the largest need, or none while
    // another is being planned and may need more; called with the lock held.
    size_t largestWaiting()
    {
        size_t best = none;
        for (size_t piece = emitted; piece < drawn; ++piece) {
            const Entry& candidate = entry(piece);
            if (!candidate.planned)
                return none;
            if (!candidate.started &&
                (best == none || candidate.plan->need > entry(best).plan->need))
                best = piece;
        }
        return best;
    }

    // Called on the calling thread, without the lock.
    void tickIfDue(size_t done)
    {
        const auto now = std::chrono::steady_clock::now();
        if (now - lastTick >= stages.tickEvery)
            lastTick = now, stages.tick(done);
    }

    // Called with the lock held.
    void finished(size_t piece)
    {
        entry(piece).done = true;
        if (piece == emitted)
            frontDone.notify_one();
    }

    // Draws and plans the next piece; called with the lock held, which it
    // lets go of meanwhile.
    void draw(std::unique_lock<std::mutex>& lock)
    {
        drawing = true;
        lock.unlock();
        Item item;
        const bool more = stages.next(item);
        lock.lock();
        drawing = false;
        room.notify_all();
        if (!more) {
            drained = true;
            frontDone.notify_one();
            return;
        }
        const size_t piece = drawn++;
        entries.emplace_back().item = std::move(item);
        Entry& drew = entry(piece);
        lock.unlock();
        Plan made = stages.plan(drew.item);
        lock.lock();
        drew.plan = std::move(made);
        drew.planned = true;
        room.notify_all();
    }

    void worker(size_t self)
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (!allTaken()) {
            if (!drained && !drawing && drawn < emitted + window) {
                draw(lock);
                continue;
            }
            const size_t piece = largestWaiting();
            const uint64_t need = piece == none ? 0 : entry(piece).plan->need;
            const uint64_t reserved = need > limits.budget ? 0 : need;
            if (piece == none || reserved > limits.budget - inUse) {
                room.wait(lock);
                continue;
            }
            const uint64_t left =
                reserved == 0 ? std::numeric_limits<uint64_t>::max() : stages.memoryLeft();
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
            ++taken;
            const bool alone = flushing == 0;
            lock.unlock();
            Result result = stages.work(self, taking.item, *taking.plan);
            const bool waits = stages.needsFlush(result);
            if (waits && alone)
                stages.flush(result);
            lock.lock();
            inUse -= reserved;
            --atWork;
            // Those waiting for room need wait no more once all is taken.
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
        room.notify_all();
        if (--working == 0)
            toFlush.notify_all();
    }

    void flusher()
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
            stages.flush(result);
            lock.lock();
            finished(piece);
        }
    }

    void runAlone()
    {
        for (Item item; stages.next(item); item = Item()) {
            Plan made = stages.plan(item);
            if (const uint64_t left = stages.memoryLeft();
                made.need <= limits.budget && made.need > left)
                made.left = left;
            Result result = stages.work(0, item, made);
            if (stages.needsFlush(result))
                stages.flush(result);
            stages.emit(item, result);
            tickIfDue(++emitted);
        }
    }

    void run()
    {
        const size_t jobs = limits.jobs;
        working = jobs;
        std::vector<std::thread> threads;
        // One worker alone starts none, and keeps its work on this thread.
        try {
            for (; flushing < limits.flushers && (jobs > 1 || limits.flushers > 0); ++flushing)
                threads.emplace_back([this] { flusher(); });
        } catch (const std::system_error&) {
        }
        size_t started = 0;
        try {
            for (; started < jobs && (jobs > 1 || limits.flushers > 0); ++started)
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
        for (;;) {
            lock.lock();
            const auto ready = [&] {
                return (!entries.empty() && entries.front().done) || (drained && entries.empty());
            };
            while (!frontDone.wait_for(lock, stages.tickEvery, ready)) {
                lock.unlock();
                tickIfDue(emitted);
                lock.lock();
            }
            std::optional<Entry> front;
            if (!entries.empty())
                front.emplace(std::move(entries.front()));
            lock.unlock();
            if (!front)
                break;
            stages.emit(front->item, *front->result);
            // Gone before its place is given to the next piece.
            front.reset();
            lock.lock();
            entries.pop_front();
            ++emitted;
            room.notify_all();
            lock.unlock();
            tickIfDue(emitted);
        }
        for (std::thread& thread : threads)
            thread.join();
    }
};
} // namespace ordered_pool

template <typename Item, typename Plan, typename Result>
void runOrdered(const PoolLimits& limits, const PoolStages<Item, Plan, Result>& stages)
{
    ordered_pool::Run<Item, Plan, Result>(limits, stages).run();
}
