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

// Counts by one into now, and raises most to now where it is more.
void count(std::atomic<uint64_t>& now, std::atomic<uint64_t>& most, int64_t by)
{
    const uint64_t value = now += by;
    for (uint64_t seen = most; value > seen && !most.compare_exchange_weak(seen, value);) { }
}

uint64_t needOf(size_t piece) { return piece == 7 ? 1000 : piece * 7919 % 50 * 2; }

// Runs the pool as set; returns the first fault found, or "".
std::string runPool(const Setting& set)
{
    std::vector<std::atomic<int>> visits(set.count);
    std::atomic<uint64_t> underWay{0}, mostUnderWay{0}, needed{0}, mostNeeded{0};
    std::vector<size_t> started;
    std::mutex mutex;
    std::string fault;
    size_t next = 0;
    const auto fail = [&](const std::string& what) { fault = fault.empty() ? what : fault; };
    const auto start = [&](size_t i) {
        const std::lock_guard<std::mutex> lock(mutex);
        started.push_back(i);
    };
    OrderedPool<Plan, Piece> pool;
    pool.jobs = set.jobs, pool.flushers = set.flushers, pool.window = set.window;
    pool.budget = set.budget;
    // Planned once counts 1 and worked once 10, so that each visit shows.
    pool.plan = [&](size_t i) {
        return count(underWay, mostUnderWay, 1), ++visits[i], Plan{needOf(i)};
    };
    pool.work = [&](size_t, size_t i, Plan& plan) {
        const int64_t counted = plan.need > set.budget ? 0 : int64_t(plan.need);
        count(needed, mostNeeded, counted);
        start(i);
        visits[i] += 10;
        pause();
        count(needed, mostNeeded, -counted);
        return Piece{i};
    };
    pool.needsFlush = [](const Piece& piece) { return piece.index % 3 == 0; };
    pool.flush = [](Piece& piece) { pause(), piece.flushed = true; };
    pool.emit = [&](size_t i, Piece& piece) {
        --underWay;
        if (i != next++ || piece.index != i || piece.flushed != (i % 3 == 0) || visits[i] != 11)
            fail("piece " + std::to_string(piece.index) + " emitted as " + std::to_string(i) +
                 (piece.flushed ? ", flushed" : "") + ", visited " + std::to_string(visits[i]));
    };
    // Told every millisecond or so how many are emitted, however briefly each waits.
    size_t ticks = 0;
    pool.tickEvery = std::chrono::milliseconds(1);
    pool.tick = [&](size_t done) {
        done == next ? ++ticks : (fail("tick told " + std::to_string(done)), 0);
    };
    const auto begun = std::chrono::steady_clock::now();
    pool.run(set.count);
    if (ticks == 0 && std::chrono::steady_clock::now() - begun > std::chrono::milliseconds(20))
        fail("no tick");
    if (next != set.count || mostUnderWay > (set.window ? set.window : set.jobs + set.flushers) ||
        mostNeeded > set.budget)
        fail(std::to_string(next) + " emitted, " + std::to_string(mostUnderWay) +
             " under way and " + std::to_string(mostNeeded) + " needed at once");
    // One worker planning every piece first takes the largest need first.
    const auto rank = [&](size_t i) { return needOf(i) * set.count + set.count - i; };
    for (size_t k = 1; set.jobs == 1 && set.window >= set.count && k < started.size(); ++k)
        if (rank(started[k]) > rank(started[k - 1]))
            fail("piece " + std::to_string(started[k]) + " after " +
                 std::to_string(started[k - 1]));
    return fault;
}

// The same in a child process whose user, one of its own, may start only
// granted threads beside it, so that the system refuses the rest.
std::string runGranted(const Setting& set, size_t granted)
{
    int channel[2];
    if (pipe(channel) != 0)
        return "no pipe";
    if (fork() == 0) {
        const uid_t own = 2000000000 + uid_t(getpid() % 100000);
        const rlimit limit{granted + 1, granted + 1};
        const std::string fault =
            setresgid(own, own, own) || setresuid(own, own, own) || setrlimit(RLIMIT_NPROC, &limit)
                ? "no user of its own"
                : (alarm(10), runPool(set));
        _exit(write(channel[1], fault.data(), fault.size()) == ssize_t(fault.size()) ? 0 : 1);
    }
    close(channel[1]);
    std::string fault(256, '\0');
    fault.resize(std::max<ssize_t>(read(channel[0], &fault[0], fault.size()), 0));
    close(channel[0]);
    int status = 0;
    wait(&status);
    return WIFSIGNALED(status) ? "ended by signal " + std::to_string(WTERMSIG(status)) : fault;
}
} // namespace

TEST(OrderedPool, EveryThreadGranted)
{
    const uint64_t any = UINT64_MAX;
    const Setting settings[] = {{300, 1, 0, 0, any}, {300, 2, 0, 0, any}, {300, 5, 4, 0, any},
                                {300, 1, 4, 0, any}, {60, 1, 1, 60, any}, {200, 4, 4, 40, 150},
                                {200, 3, 0, 100, 99}};
    for (const Setting& set : settings)
        EXPECT_EQ(runPool(set), "") << set.jobs << " jobs, " << set.flushers << " flushers, window "
                                    << set.window << ", budget " << set.budget;
}

TEST(OrderedPool, SomeThreadsRefused)
{
    if (geteuid() != 0)
        GTEST_SKIP()
            << "needs root, to run the pool as a user of its own whose threads can be limited";
    for (size_t granted = 0; granted <= 5; ++granted)
        for (const size_t count : {1, 2, 40})
            EXPECT_EQ(runGranted({count, 2, 3, 0, 150}, granted), "")
                << count << " pieces, " << granted << " threads granted of 5";
}
