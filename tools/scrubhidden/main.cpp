// scrubhidden [--check] [-z] [-r] [-j N] [--memory SIZE] FILE...: sets the
// colour of fully transparent pixels to black in each PNG file named, listed
// or, with -r, found in a folder named, rewriting a file only when something
// changed; with --check, lists the files that would change instead.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console.h"
#include "file_source.h"
#include "image.h"
#include "left_after.h"
#include "machine.h"
#include "options.h"
#include "ordered_pool.h"
#include "process.h"
#include "progress.h"
#include "quote.h"
#include "report.h"
#include "scrub_file.h"

namespace {
const char* const tool = "scrubhidden";

const char* const help =
    "usage: scrubhidden [--check] [-z] [-r] [-j N] [--memory SIZE] FILE...\n"
    "       scrubhidden [options] --files0-from=LIST\n"
    "\n"
    "Sets the colour of every fully transparent pixel to black in each FILE\n"
    "whose name ends in \".png\", rewriting a file in place only when a pixel\n"
    "changed. Other arguments are skipped.\n"
    "\n"
    "  --check        write nothing; list the files that hold hidden colour\n"
    "  -z, --null     end each name in that list with a NUL, written as it is\n"
    "  -r, --recursive  take every .png file in the tree under a FILE that is\n"
    "                 a folder, in the order of their paths\n"
    "  --files0-from=LIST  take the names in LIST, each ended by a NUL, as\n"
    "                 FILEs (\"-\": standard input): find -print0, git ls-files -z\n"
    "  -j, --jobs N   handle N files at once (default: one per processor that\n"
    "                 the system grants)\n"
    "  --memory SIZE  start a file only while the files at work may need no\n"
    "                 more memory than SIZE together (512M, 4G; default: three\n"
    "                 quarters of what the system grants this process)\n"
    "  --             end the options, so that a file may start with -\n"
    "\n"
    "Exit status: 0 success, 1 some file could not be handled, 2 usage error.\n"
    "With --check: 0 no file holds hidden colour, 1 some file does, 2 some\n"
    "file could not be handled.\n";

// Flushes mostly wait on the disk, so a few go on for each worker at once.
const size_t flushesPerJob = 4;
const size_t maxJobs = 48;
// Files planned, at work, or waiting to be flushed or printed, at once, each
// with its files open.
const size_t maxFilesUnderWay = 256;
static_assert(maxJobs * (1 + flushesPerJob) <= maxFilesUnderWay,
              "too few files under way to keep every thread busy");

// How many files may be under way at once, where each holds two
// descriptors (three when a walk found it, one for its folder) beside the
// four a job holds as it works, and a walk holds one for each folder deep.
size_t windowFor(size_t jobs, size_t depth)
{
    const size_t left = descriptorsLeft(), spare = 4 * jobs + 8 + depth;
    const size_t each = depth > 0 ? 3 : 2;
    return std::max<size_t>(1, std::min(maxFilesUnderWay, leftAfter(left, spare) / each));
}

// How deep a walk may go, holding a folder open at each level: a quarter
// of the descriptors left, the rest for the files under way.
size_t depthFor(bool recursive)
{
    return recursive ? std::max<size_t>(1, std::min<size_t>(descriptorsLeft() / 4, 1 << 20)) : 0;
}

// The number of jobs an option names: a whole number from 1, or 0 when it
// names none.
size_t jobCount(const std::string& text)
{
    size_t jobs = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return 0;
        jobs = std::min(jobs * 10 + size_t(c - '0'), maxJobs);
    }
    return jobs;
}
} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args = startProcess(argc, argv);
    bool check = false;
    bool nulls = false;
    bool optionsEnded = false;
    // What was done, for a console window that closes as the tool ends.
    size_t counts[3] = {};
    size_t jobs = std::min(processorsGranted(), maxJobs);
    uint64_t budget = 0;
    FileSource source;
    bool listGiven = false;
    std::string value;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const std::string option = optionsEnded ? std::string() : optionIn(arg);
        if (option.empty()) {
            source.operands.push_back(arg);
        } else if (option == "--") {
            optionsEnded = true;
        } else if (option == "--check") {
            check = true;
        } else if (option == "-z" || option == "--null") {
            nulls = true;
        } else if (option == "-r" || option == "--recursive") {
            source.recursive = true;
        } else if (takesValue(option, "--files0-from", args, i, value)) {
            if (listGiven)
                return usageError(tool, "--files0-from given twice", help);
            source.list = value;
            listGiven = true;
        } else if (takesValue(option, "--memory", args, i, value)) {
            if (const std::string bad = readMemorySize(value, budget); !bad.empty())
                return usageError(tool, bad, help);
        } else if (takesValue(option, "-j", args, i, value) ||
                   takesValue(option, "--jobs", args, i, value)) {
            if ((jobs = jobCount(value)) == 0)
                return usageError(
                    tool, "the job count must be a whole number from 1: " + quotedName(value),
                    help);
        } else if (const auto status = answerInfoOption(option, tool, help)) {
            return *status;
        } else {
            return usageError(tool, "unknown option: " + quotedName(arg), help);
        }
    }
    if (listGiven && source.list.empty())
        return usageError(tool, "--files0-from needs the file that lists the names", help);
    if (listGiven && !source.operands.empty())
        return usageError(tool,
                          "file operands cannot be combined with --files0-from: " +
                              quotedName(source.operands.front()),
                          help);
    // Run from Explorer with nothing dropped on it, the tool says how it is used.
    if (args.size() == 1 && ownsConsoleWindow())
        return *answerInfoOption("--help", tool, help);

    bool failed = false;
    bool hidden = false;
    // Counted where every file is named on the command line, for the
    // progress line; a list or a walk tells no total before its end.
    const size_t total = listGiven || source.recursive ? 0 : source.keepPngOperands();
    // One image for each worker, so that its pixel buffer is reused.
    std::vector<Image> images(
        listGiven || source.recursive ? jobs : std::min(jobs, std::max<size_t>(total, 1)));
    PoolLimits limits;
    limits.jobs = images.size();
    limits.flushers = check ? 0 : flushesPerJob * images.size();
    source.depthLimit = depthFor(source.recursive);
    limits.window = windowFor(limits.jobs, source.depthLimit);
    limits.budget = budget =
        budget == 0 ? defaultMemoryBudget(limits.jobs + limits.flushers) : budget;
    FilesInRewrite inRewrite;
    // Names ended by NUL stay on one line of a terminal, where the progress
    // line would write over them.
    Progress progress(tool, !(check && nulls && isTerminal(stdout)));
    PoolStages<FoundFile, FilePlan, FileResult> pool;
    pool.memoryLeft = memoryRoomInGroups;
    pool.next = [&](FoundFile& found) { return source.next(found); };
    pool.plan = [&](FoundFile& found) { return planFile(found, !check); };
    pool.work = [&](size_t worker, FoundFile& found, FilePlan& plan) {
        return scrubFile(images[worker], found, plan, inRewrite, budget);
    };
    pool.needsFlush = [](const FileResult& result) { return result.replacement.pending(); };
    pool.flush = [&](FileResult& result) { finishFile(result, inRewrite); };
    pool.emit = [&](FoundFile& found, FileResult& result) {
        failed = failed || result.outcome == Outcome::failed;
        hidden = hidden || result.outcome == Outcome::hidesColour;
        ++counts[size_t(result.outcome)];
        progress.clear();
        const char* const path = found.path.c_str();
        if (result.outcome == Outcome::failed && found.path.empty())
            writeText(stderr, std::string(tool) + ": " + result.reason + "\n");
        else if (result.outcome == Outcome::failed)
            reportFailure(tool, path, result.reason);
        else if (check && result.outcome == Outcome::hidesColour && nulls)
            writeText(stdout, std::string(path, found.path.size() + 1));
        else if (check && result.outcome == Outcome::hidesColour)
            writeText(stdout, quotedName(path) + "\n");
    };
    pool.tick = [&](size_t done) { progress.update(done, total); };
    runOrdered(limits, pool);
    progress.clear();
    if (ownsConsoleWindow())
        writeText(stdout, std::string(tool) + ": " +
                              std::to_string(counts[size_t(Outcome::hidesColour)]) +
                              (check ? " hiding colour, " : " rewritten, ") +
                              std::to_string(counts[size_t(Outcome::clean)]) + " clean, " +
                              std::to_string(counts[size_t(Outcome::failed)]) + " failed, " +
                              std::to_string(source.skipped) + " skipped\n");
    if (!check)
        return failed ? 1 : 0;
    // A list that never arrived must not pass for an empty one.
    if (!standardOutputWritten(tool))
        return 2;
    return failed ? 2 : hidden ? 1 : 0;
}
