// The ordered pool under every grant of threads, from none to all it asks
// for, with work and flushes that take random times: each piece is worked
// once, flushed when it asks to be, and emitted in order, never with more
// under way than the pool allows, and the pool ends.
#include <atomic>
#include <random>
#include <string>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ordered_pool.h"

namespace {
struct Piece {
    size_t index;
    bool flushed = false;
};

void pause()
{
    thread_local std::minstd_rand random(std::random_device{}());
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 300));
}

// Runs count pieces on the pool; returns the first fault found, or "".
std::string runPool(size_t count, size_t jobs, size_t flushers)
{
    std::vector<std::atomic<int>> worked(count);
    std::atomic<size_t> underWay{0}, most{0};
    std::string fault;
    size_t next = 0;
    const auto fail = [&](const std::string& what) { fault = fault.empty() ? what : fault; };
    OrderedPool<Piece> pool;
    pool.jobs = jobs, pool.flushers = flushers;
    pool.work = [&](size_t, size_t i) {
        for (size_t now = ++underWay, seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
        }
        ++worked[i];
        pause();
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
    pool.run(count);
    for (size_t i = 0; i < count; ++i)
        if (worked[i] != 1)
            fail("piece " + std::to_string(i) + " worked " + std::to_string(worked[i]) + " times");
    if (next != count)
        fail(std::to_string(next) + " pieces emitted of " + std::to_string(count));
    if (most > jobs + flushers)
        fail(std::to_string(most) + " pieces under way at once");
    return fault;
}

// The same in a child process whose user, one of its own, may start only
// granted threads beside it, so that the system refuses the rest.
std::string runGranted(size_t count, size_t jobs, size_t flushers, size_t granted)
{
    int channel[2];
    if (pipe(channel) != 0)
        return "no pipe";
    if (const pid_t child = fork(); child == 0) {
        const uid_t own = 2000000000 + uid_t(getpid() % 100000);
        const rlimit limit{granted + 1, granted + 1};
        const bool alone = setresgid(own, own, own) == 0 && setresuid(own, own, own) == 0 &&
                           setrlimit(RLIMIT_NPROC, &limit) == 0;
        const std::string fault = alone ? (alarm(10), runPool(count, jobs, flushers)) : "no user of its own";
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
    for (const size_t jobs : {1, 2, 5})
        for (const size_t flushers : {0, 4})
            EXPECT_EQ(runPool(300, jobs, flushers), "") << jobs << " jobs, " << flushers << " flushers";
}

TEST(OrderedPool, SomeThreadsRefused)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to run the pool as a user of its own whose threads can be limited";
    const size_t jobs = 2, flushers = 3;
    for (size_t granted = 0; granted <= jobs + flushers; ++granted)
        for (const size_t count : {1, 2, 40})
            EXPECT_EQ(runGranted(count, jobs, flushers, granted), "")
                << count << " pieces, " << granted << " threads granted of " << jobs + flushers;
}
