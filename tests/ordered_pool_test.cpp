// The ordered pool under every grant of threads, from none to all it asks
// for, with stages that take random times and pieces of random needs: each
// piece is planned and worked once, flushed when it asks to be and emitted
// in order, never with more under way than the window nor more needed at
// once than the budget, the largest need first, and the pool ends.
#include <atomic>
#include <random>
#include <string>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ordered_pool.h"

namespace {
struct Plan {
    uint64_t need;
};

struct Piece {
    size_t index;
    bool flushed = false;
};

struct Setting {
    size_t count, jobs, flushers, window;
    uint64_t budget;
};

void pause()
{
    thread_local std::minstd_rand random(std::random_device{}());
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 300));
}

// Raises most to now if now is more.
void atLeast(std::atomic<uint64_t>& most, uint64_t now)
{
    for (uint64_t seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
    }
}

uint64_t needOf(size_t piece) { return piece == 7 ? 1000 : piece * 7919 % 50 * 2; }

// Runs the pool as set; returns the first fault found, or "".
std::string runPool(const Setting& set)
{
    std::vector<std::atomic<int>> planned(set.count), worked(set.count);
    std::atomic<uint64_t> underWay{0}, mostUnderWay{0}, needed{0}, mostNeeded{0};
    std::vector<size_t> started;
    std::mutex startedMutex;
    std::string fault;
    size_t next = 0;
    const auto fail = [&](const std::string& what) { fault = fault.empty() ? what : fault; };
    OrderedPool<Plan, Piece> pool;
    pool.jobs = set.jobs, pool.flushers = set.flushers, pool.window = set.window, pool.budget = set.budget;
    pool.plan = [&](size_t i) {
        atLeast(mostUnderWay, ++underWay);
        ++planned[i];
        return Plan{needOf(i)};
    };
    pool.work = [&](size_t, size_t i, Plan& plan) {
        const uint64_t counted = plan.need > set.budget ? 0 : plan.need;
        atLeast(mostNeeded, needed += counted);
        {
            const std::lock_guard<std::mutex> lock(startedMutex);
            started.push_back(i);
        }
        ++worked[i];
        pause();
        needed -= counted;
        return Piece{i};
    };
    pool.needsFlush = [](const Piece& piece) { return piece.index % 3 == 0; };
    pool.flush = [](Piece& piece) { pause(), piece.flushed = true; };
    pool.emit = [&](size_t i, Piece& piece) {
        --underWay;
        if (i != next++ || piece.index != i)
            fail("piece " + std::to_string(piece.index) + " emitted as " + std::to_string(i));
        if (piece.flushed != (i % 3 == 0))
            fail("piece " + std::to_string(i) + (piece.flushed ? " flushed" : " not flushed"));
    };
    pool.run(set.count);
    for (size_t i = 0; i < set.count; ++i)
        if (planned[i] != 1 || worked[i] != 1)
            fail("piece " + std::to_string(i) + " planned " + std::to_string(planned[i]) + " times, worked " +
                 std::to_string(worked[i]));
    if (next != set.count)
        fail(std::to_string(next) + " pieces emitted of " + std::to_string(set.count));
    if (mostUnderWay > (set.window ? set.window : set.jobs + set.flushers))
        fail(std::to_string(mostUnderWay) + " pieces under way at once");
    if (mostNeeded > set.budget)
        fail(std::to_string(mostNeeded) + " needed at once");
    // One worker planning every piece first takes the largest need first.
    for (size_t k = 1; set.jobs == 1 && set.flushers > 0 && set.window >= set.count && k < started.size(); ++k)
        if (needOf(started[k]) > needOf(started[k - 1]) ||
            (needOf(started[k]) == needOf(started[k - 1]) && started[k] < started[k - 1]))
            fail("piece " + std::to_string(started[k]) + " started after " + std::to_string(started[k - 1]));
    return fault;
}

// The same in a child process whose user, one of its own, may start only
// granted threads beside it, so that the system refuses the rest.
std::string runGranted(const Setting& set, size_t granted)
{
    int channel[2];
    if (pipe(channel) != 0)
        return "no pipe";
    if (const pid_t child = fork(); child == 0) {
        const uid_t own = 2000000000 + uid_t(getpid() % 100000);
        const rlimit limit{granted + 1, granted + 1};
        const bool alone = setresgid(own, own, own) == 0 && setresuid(own, own, own) == 0 &&
                           setrlimit(RLIMIT_NPROC, &limit) == 0;
        const std::string fault = alone ? (alarm(10), runPool(set)) : "no user of its own";
        _exit(write(channel[1], fault.data(), fault.size()) == ssize_t(fault.size()) ? 0 : 1);
    }
    close(channel[1]);
    std::string fault;
    char buffer[256];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;)
        fault.append(buffer, size_t(n));
    close(channel[0]);
    int status = 0;
    wait(&status);
    if (WIFSIGNALED(status))
        return "ended by signal " + std::to_string(WTERMSIG(status)) + (WTERMSIG(status) == SIGALRM ? ", hung" : "");
    return fault;
}
} // namespace

TEST(OrderedPool, EveryThreadGranted)
{
    const Setting settings[] = {{300, 1, 0, 0, UINT64_MAX}, {300, 2, 0, 0, UINT64_MAX}, {300, 5, 4, 0, UINT64_MAX},
                                {300, 1, 4, 0, UINT64_MAX}, {60, 1, 1, 60, UINT64_MAX}, {200, 4, 4, 40, 150},
                                {200, 3, 0, 100, 99}};
    for (const Setting& set : settings)
        EXPECT_EQ(runPool(set), "") << set.jobs << " jobs, " << set.flushers << " flushers, window " << set.window
                                    << ", budget " << set.budget;
}

TEST(OrderedPool, SomeThreadsRefused)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to run the pool as a user of its own whose threads can be limited";
    for (size_t granted = 0; granted <= 5; ++granted)
        for (const size_t count : {1, 2, 40})
            EXPECT_EQ(runGranted({count, 2, 3, 0, 150}, granted), "")
                << count << " pieces, " << granted << " threads granted of 5";
}
