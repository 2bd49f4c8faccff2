#pragma once

#include <chrono>
#include <cstddef>
#include <string>

// The one line that shows a person at a terminal how far a long batch is:
// the files done of the total and the rate, on standard error, written over
// itself. It shows only when standard error is a terminal, and only once the
// batch has run for a second; nothing of it is ever written elsewhere. It is
// to be cleared before anything else is written to that terminal, on either
// stream.
struct Progress {
    // With wanted false, as where the terminal takes text that the line
    // would write over, it never shows.
    Progress(const char* tool, bool wanted);

    // Shows done of total files (with total 0, of a total not yet known),
    // once the batch has run for a second.
    void update(size_t done, size_t total);
    // Takes the line away, before another is written to standard error and
    // at the end.
    void clear();

private:
    std::string tool;
    bool terminal;
    std::chrono::steady_clock::time_point start;
    size_t shown = 0;
};
