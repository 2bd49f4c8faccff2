#include "progress.h"

#include <cstdio>

#include "console.h"
#include "left_after.h"

Progress::Progress(const char* tool, bool wanted)
    : tool(tool)
    , terminal(wanted && isTerminal(stderr))
    , start(std::chrono::steady_clock::now())
{
}

void Progress::update(size_t done, size_t total)
{
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!terminal || seconds < 1)
        return;
    char line[128];
    const std::string of = total == 0 ? std::string() : " of " + std::to_string(total);
    std::snprintf(line, sizeof line, "%s: %zu%s files, %.0f files/s", tool.c_str(), done,
                  of.c_str(), done / seconds);
    const std::string text = line;
    // Spaces wipe what a longer line before left; no terminal escape is needed.
    writeText(stderr, "\r" + text + std::string(leftAfter(shown, text.size()), ' '));
    std::fflush(stderr);
    shown = text.size();
}

void Progress::clear()
{
    if (shown == 0)
        return;
    writeText(stderr, "\r" + std::string(shown, ' ') + "\r");
    std::fflush(stderr);
    shown = 0;
}
