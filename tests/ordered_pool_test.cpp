// The ordered pool under settings of jobs, flushers, window, budget and
// memory left, with stages that take random times and pieces of random
// needs (threads the system refuses are left to Rows.OtherUser): each
// piece is planned and worked once, flushed when it asks to be and emitted
// in order, never with more under way than the window nor more needed at
// once than the budget, and the pool ends.
#include <atomic>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "ordered_pool.h"

namespace {
struct Plan {
    uint64_t need, left = UINT64_MAX;
};
struct Setting {
    size_t count, jobs, flushers, window;
    uint64_t budget, left = UINT64_MAX;
};

void pause()
{
    thread_local std::minstd_rand random(std::random_device{}());
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 300));
}

// Adds by to now, and raises most to now where it is more.
void count(std::atomic<uint64_t>& now, std::atomic<uint64_t>& most, int64_t by)
{
    const uint64_t value = now += by;
    for (uint64_t seen = most; value > seen && !most.compare_exchange_weak(seen, value);) { }
}

// Runs the pool as set; returns the first fault found, or "".
std::string runPool(const Setting& set)
{
    // Planned once counts 1, worked once 10 and flushed once 100.
    std::vector<std::atomic<int>> visits(set.count);
    std::atomic<uint64_t> underWay{0}, mostUnderWay{0}, needed{0}, mostNeeded{0};
    std::string fault;
    size_t drawn = 0, next = 0;
    PoolLimits limits;
    limits.jobs = set.jobs, limits.flushers = set.flushers, limits.window = set.window;
    limits.budget = set.budget;
    PoolStages<size_t, Plan, size_t> pool;
    pool.memoryLeft = [&] { return set.left; };
    pool.next = [&](size_t& i) { return (i = drawn++) < set.count; };
    pool.plan = [&](size_t& i) {
        count(underWay, mostUnderWay, 1), ++visits[i];
        return Plan{i == 7 ? 1000 : i * 7919 % 50 * 2};
    };
    pool.work = [&](size_t, size_t& i, Plan& plan) {
        // Refused, as work would refuse it, when the memory left is said.
        const bool left = plan.need > set.budget || plan.need <= set.left;
        if (fault.empty() && plan.left != (left ? UINT64_MAX : set.left))
            fault = "piece " + std::to_string(i) + " told " + std::to_string(plan.left) + " left";
        const int64_t counted = plan.need > std::min(set.budget, set.left) ? 0 : int64_t(plan.need);
        count(needed, mostNeeded, counted), visits[i] += 10, pause();
        count(needed, mostNeeded, -counted);
        return i;
    };
    pool.needsFlush = [](const size_t& i) { return i % 3 == 0; };
    pool.flush = [&](size_t& i) { pause(), visits[i] += 100; };
    pool.emit = [&](size_t& i, size_t& piece) {
        --underWay;
        if (fault.empty() && (i != next || piece != i || visits[i] != (i % 3 ? 11 : 111)))
            fault = "piece " + std::to_string(piece) + " emitted as " + std::to_string(i) + " of " +
                    std::to_string(next) + ", visited " + std::to_string(visits[i]);
        ++next;
    };
    runOrdered(limits, pool);
    if (fault.empty() &&
        (next != set.count || mostUnderWay > (set.window ? set.window : set.jobs + set.flushers) ||
         mostNeeded > std::min(set.budget, set.left)))
        fault = std::to_string(next) + " emitted, " + std::to_string(mostUnderWay) +
                " under way and " + std::to_string(mostNeeded) + " needed at once";
    return fault;
}
} // namespace

TEST(OrderedPool, EveryThreadGranted)
{
    const uint64_t any = UINT64_MAX;
    const Setting settings[] = {
        {300, 1, 0, 0, any},  {300, 2, 0, 0, any},     {300, 5, 4, 0, any},
        {300, 1, 4, 0, any},  {60, 1, 1, 60, any},     {200, 4, 4, 40, 150},
        {200, 3, 0, 100, 99}, {200, 3, 2, 0, 150, 60}, {50, 1, 0, 0, 150, 60}};
    for (const Setting& set : settings)
        EXPECT_EQ(runPool(set), "")
            << set.jobs << " jobs, " << set.flushers << " flushers, window " << set.window
            << ", budget " << set.budget << ", left " << set.left;
}
