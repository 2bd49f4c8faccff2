// The ordered pool under every grant of threads, from none to all it asks
// for, with work and flushes that take random times: each piece of work is
// done once, flushed when it asks to be, and emitted in order, never with
// more under way than the pool allows, and the pool ends.
#include <atomic>
#include <chrono>
#include <random>
#include <string>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "in_order.h"

namespace {
struct Piece {
    size_t index;
    bool settled = false;
};

void pause(std::minstd_rand& random)
{
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 300));
}

// Runs count pieces on the pool; returns the first fault found, or "".
std::string runPool(size_t count, size_t jobs, size_t settlers)
{
    std::vector<std::atomic<int>> worked(count);
    std::atomic<size_t> underWay{0}, most{0};
    std::string fault;
    size_t next = 0;
    thread_local std::minstd_rand random(std::random_device{}());
    forEachInOrder(
        count, jobs, settlers,
        [&](size_t, size_t i) {
            const size_t now = ++underWay;
            for (size_t seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
            }
            ++worked[i];
            pause(random);
            return Piece{i};
        },
        [](const Piece& piece) { return piece.index % 3 == 0; },
        [&](Piece& piece) {
            pause(random);
            piece.settled = true;
        },
        [&](size_t i, const Piece& piece) {
            --underWay;
            if (fault.empty() && (i != next || piece.index != i))
                fault = "piece " + std::to_string(piece.index) + " emitted as " + std::to_string(i) +
                        " where " + std::to_string(next) + " was due";
            if (fault.empty() && piece.settled != (i % 3 == 0))
                fault = "piece " + std::to_string(i) + (piece.settled ? " settled" : " not settled");
            ++next;
        });
    for (size_t i = 0; fault.empty() && i < count; ++i)
        if (worked[i] != 1)
            fault = "piece " + std::to_string(i) + " worked " + std::to_string(worked[i]) + " times";
    if (fault.empty() && next != count)
        fault = std::to_string(next) + " pieces emitted of " + std::to_string(count);
    if (fault.empty() && most > jobs + settlers)
        fault = std::to_string(most) + " pieces under way at once";
    return fault;
}

// The same in a child process whose user, one of its own, may start only
// granted threads beside it, so that the system refuses the rest.
std::string runGranted(size_t count, size_t jobs, size_t settlers, size_t granted)
{
    int channel[2];
    if (pipe(channel) != 0)
        return "no pipe";
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        const uid_t own = 2000000000 + uid_t(getpid() % 100000);
        const rlimit limit{granted + 1, granted + 1};
        std::string fault = setresgid(own, own, own) != 0 || setresuid(own, own, own) != 0 ||
                                    setrlimit(RLIMIT_NPROC, &limit) != 0
                                ? "cannot become a user of its own"
                                : (alarm(10), runPool(count, jobs, settlers));
        _exit(write(channel[1], fault.data(), fault.size()) == ssize_t(fault.size()) ? 0 : 1);
    }
    close(channel[1]);
    std::string fault;
    char buffer[256];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;)
        fault.append(buffer, size_t(n));
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFSIGNALED(status))
        return "ended by signal " + std::to_string(WTERMSIG(status)) + (WTERMSIG(status) == SIGALRM ? " (hung)" : "");
    return fault;
}
} // namespace

TEST(InOrder, EveryThreadGranted)
{
    for (const size_t jobs : {1, 2, 5})
        for (const size_t settlers : {0, 4})
            EXPECT_EQ(runPool(300, jobs, settlers), "") << jobs << " jobs, " << settlers << " settlers";
}

TEST(InOrder, SomeThreadsRefused)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to run the pool as a user of its own whose threads can be limited";
    const size_t jobs = 2, settlers = 3;
    for (size_t granted = 0; granted <= jobs + settlers; ++granted)
        for (const size_t count : {1, 2, 40})
            EXPECT_EQ(runGranted(count, jobs, settlers, granted), "")
                << count << " pieces, " << granted << " threads granted of " << jobs + settlers;
}
