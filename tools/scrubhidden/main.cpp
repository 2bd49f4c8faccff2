// scrubhidden [--check] [-z] [-j N] FILE...: sets the colour of fully
// transparent pixels to black in each PNG file named, rewriting a file only
// when something changed; with --check, lists the files that would change
// instead.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "console.h"
#include "hidden_colour_possible.h"
#include "file_locks.h"
#include "image.h"
#include "info_option.h"
#include "ordered_pool.h"
#include "png_extension.h"
#include "process.h"
#include "quote.h"
#include "report.h"
#include "scrub_hidden_colour.h"

namespace {
const char* const tool = "scrubhidden";

const char* const help =
    "usage: scrubhidden [--check] [-z] [-j N] FILE...\n"
    "\n"
    "Sets the colour of every fully transparent pixel to black in each FILE\n"
    "whose name ends in \".png\", rewriting a file in place only when a pixel\n"
    "changed. Other arguments are skipped.\n"
    "\n"
    "  --check       write nothing; list the files that hold hidden colour\n"
    "  -z, --null    end each name in that list with a NUL, written as it is\n"
    "  -j, --jobs N  handle N files at once (default: one per processor)\n"
    "\n"
    "Exit status: 0 success, 1 some file could not be handled, 2 usage error.\n"
    "With --check: 0 no file holds hidden colour, 1 some file does, 2 some\n"
    "file could not be handled.\n";

// Flushes mostly wait on the disk, so a few go on for each worker at once.
const size_t flushesPerJob = 4;
const size_t maxJobs = 48;
// Each job and each flush holds one write under way at most.
static_assert(maxJobs * (1 + flushesPerJob) <= maxWritesUnderWay, "more writes at once than the records hold");

enum class Outcome { clean, hidesColour, failed };

struct Result {
    Outcome outcome = Outcome::clean;
    std::string reason;
    // A rewrite still to be flushed and moved into place.
    Replacement replacement;
    // What this job holds until its rewrite is done.
    std::vector<FileKey> held;
};

// Opens and reads the file, which must be a regular one; where there are
// locks, holds its place and then the file itself, waiting for any job that
// rewrites it under another name, and opens it again if that job changed it.
Failure readToRewrite(const char* path, SourceFile& source, std::vector<unsigned char>& png, FileLocks* locks,
                      std::vector<FileKey>& held)
{
    OpenFile file;
    Failure failure = findForRewrite(path, source);
    if (!failure.failed() && locks != nullptr)
        locks->hold(held.emplace_back(source.place()));
    if (!failure.failed())
        failure = openForRewrite(source, file);
    // What the file is shows only once it is open.
    if (!failure.failed() && locks != nullptr) {
        locks->hold(held.emplace_back(source.identity()));
        if (!unchangedSinceOpened(file))
            failure = openForRewrite(source, file);
    }
    return failure.failed() ? failure : readPng(file, png);
}

// Judges one file, from its chunks where they decide and from its pixels
// where not, and, with locks, begins its rewrite when it hid colour; without,
// only checks it. The file bytes go before anything is encoded, so that they
// never add to the peak.
Outcome examine(Image& image, const char* path, FileLocks* locks, Result& result)
{
    SourceFile source;
    std::vector<unsigned char> png;
    Failure failure = readToRewrite(path, source, png, locks, result.held);
    if (!failure.failed() && !mayHoldHiddenColour(png))
        return Outcome::clean;
    if (!failure.failed())
        failure = image.decode(png);
    std::vector<unsigned char>().swap(png);
    if (!failure.failed() && !scrubHiddenColour(image))
        return Outcome::clean;
    if (!failure.failed() && locks != nullptr)
        failure = image.encode(png);
    if (!failure.failed() && locks != nullptr)
        failure = beginRewrite(source, png, result.replacement);
    if (!failure.failed())
        return Outcome::hidesColour;
    result.reason = failure.reason();
    return Outcome::failed;
}

// Examines one file; a file held stays so until its rewrite is done.
Result handle(Image& image, const char* path, FileLocks* locks)
{
    Result result;
    try {
        result.outcome = examine(image, path, locks, result);
    } catch (const std::bad_alloc&) {
        result.outcome = Outcome::failed, result.reason = "out of memory";
    }
    if (!result.replacement.pending()) {
        for (const FileKey& key : result.held)
            locks->release(key);
        result.held.clear();
    }
    return result;
}

// Flushes a rewrite and moves it into place, which mostly waits on the disk,
// and lets the file go.
void flushRewrite(Result& result, FileLocks& locks)
{
    const Failure failure = finish(result.replacement);
    if (failure.failed())
        result.outcome = Outcome::failed, result.reason = failure.reason();
    for (const FileKey& key : result.held)
        locks.release(key);
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
    size_t jobs = std::min<size_t>(std::max(1u, std::thread::hardware_concurrency()), maxJobs);
    std::vector<const char*> files;
    // No option ends in ".png", so none is ever taken for a file, nor a
    // file for an option.
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (const int status = answerInfoOption(arg.c_str(), tool, help); status >= 0)
            return status;
        if (hasPngExtension(arg.c_str())) {
            files.push_back(arg.c_str());
        } else if (arg == "--check") {
            check = true;
        } else if (arg == "-z" || arg == "--null") {
            nulls = true;
        } else if (arg == "-j" || arg == "--jobs" || arg.rfind("-j", 0) == 0 || arg.rfind("--jobs=", 0) == 0) {
            const bool joined = arg != "-j" && arg != "--jobs";
            const std::string count = joined ? arg.substr(arg[1] == 'j' ? 2 : 7) : i + 1 < args.size() ? args[++i] : "";
            if ((jobs = jobCount(count)) == 0) {
                writeText(stderr, std::string(tool) + ": the job count must be a whole number from 1: " +
                                      quotedName(count) + "\n");
                return 2;
            }
        }
    }

    bool failed = false;
    bool hidden = false;
    FileLocks locks;
    // One image for each worker, so that its pixel buffer is reused.
    std::vector<Image> images(std::min(jobs, std::max<size_t>(files.size(), 1)));
    OrderedPool<Result> pool;
    pool.jobs = images.size();
    pool.flushers = check ? 0 : flushesPerJob * images.size();
    pool.work = [&](size_t worker, size_t i) { return handle(images[worker], files[i], check ? nullptr : &locks); };
    pool.needsFlush = [](const Result& result) { return result.replacement.pending(); };
    pool.flush = [&](Result& result) { flushRewrite(result, locks); };
    pool.emit = [&](size_t i, Result& result) {
        failed = failed || result.outcome == Outcome::failed;
        hidden = hidden || result.outcome == Outcome::hidesColour;
        if (result.outcome == Outcome::failed)
            reportFailure(tool, files[i], result.reason);
        else if (check && result.outcome == Outcome::hidesColour && nulls)
            writeText(stdout, std::string(files[i], std::strlen(files[i]) + 1));
        else if (check && result.outcome == Outcome::hidesColour)
            writeText(stdout, quotedName(files[i]) + "\n");
    };
    pool.run(files.size());
    if (!check)
        return failed ? 1 : 0;
    // A list that never arrived must not pass for an empty one.
    if (!standardOutputWritten(tool))
        return 2;
    return failed ? 2 : hidden ? 1 : 0;
}
