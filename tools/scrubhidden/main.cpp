// scrubhidden [--check] [-z] [-j N] FILE...: sets the colour of fully
// transparent pixels to black in each PNG file named, rewriting a file only
// when something changed; with --check, lists the files that would change
// instead.
#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "console.h"
#include "hidden_colour_possible.h"
#include "image.h"
#include "in_order.h"
#include "options.h"
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
    "  --            end the options, so that a file may start with -\n"
    "\n"
    "Exit status: 0 success, 1 some file could not be handled, 2 usage error.\n"
    "With --check: 0 no file holds hidden colour, 1 some file does, 2 some\n"
    "file could not be handled.\n";

// Flushes mostly wait on the disk, so a few go on for each worker at once.
const size_t flushesPerJob = 4;
// Each job and each flush under way holds one of the 256 records of
// temporary files at most.
const size_t maxJobs = 48;

enum class Outcome { clean, hidesColour, failed };

// Where a file is: its folder's device and number, and its name there.
using Place = std::tuple<uint64_t, uint64_t, std::string>;

// The places that jobs are rewriting, so that a file named twice, under any
// names, is read by a job only once the one before it is done with it, and
// sees what that one left, as with one job.
struct Claims {
    std::mutex mutex;
    std::condition_variable released;
    std::set<Place> busy;

    void claim(const Place& place)
    {
        std::unique_lock<std::mutex> lock(mutex);
        released.wait(lock, [&] { return busy.count(place) == 0; });
        busy.insert(place);
    }

    void release(const Place& place)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        busy.erase(place);
        released.notify_all();
    }
};

struct Result {
    Outcome outcome = Outcome::clean;
    std::string reason;
    // A rewrite still to be flushed and moved into place.
    Replacement replacement;
    // The place this job holds until its rewrite is done.
    std::optional<Place> claimed;
};

// Reads the file, which must be a regular one, claiming it where there are
// claims, and judges it, from its chunks where they decide and from its
// pixels where not; the pixels are then left scrubbed in image. The file
// bytes go before anything is encoded, so that they never add to the peak.
Outcome examine(Image& image, const char* path, Claims* claims, std::optional<Place>& claimed)
{
    std::vector<unsigned char> png;
    if (!image.find(path))
        return Outcome::failed;
    if (claims != nullptr) {
        claimed = Place(image.source.folderStatus.device, image.source.folderStatus.file, image.source.name);
        claims->claim(*claimed);
    }
    if (!image.read(png))
        return Outcome::failed;
    if (!mayHoldHiddenColour(png))
        return Outcome::clean;
    image.decode(png);
    if (!image.loaded)
        return Outcome::failed;
    return scrubHiddenColour(image) ? Outcome::hidesColour : Outcome::clean;
}

// Examines one file and, with claims, begins its rewrite when it hid colour;
// without, only checks it. A file claimed stays so until its rewrite is done.
Result handle(Image& image, const char* path, Claims* claims)
{
    Result result;
    try {
        result.outcome = examine(image, path, claims, result.claimed);
        if (result.outcome == Outcome::hidesColour && claims != nullptr && !image.beginRewrite(result.replacement))
            result.outcome = Outcome::failed;
        if (result.outcome == Outcome::failed)
            result.reason = image.failure.reason();
    } catch (const std::bad_alloc&) {
        result.outcome = Outcome::failed, result.reason = "out of memory";
    }
    if (result.claimed && !result.replacement.pending()) {
        claims->release(*result.claimed);
        result.claimed.reset();
    }
    return result;
}

// Flushes a rewrite and moves it into place, which mostly waits on the disk,
// and lets the file go.
void settle(Result& result, Claims& claims)
{
    const Failure failure = finish(result.replacement);
    if (failure.failed())
        result.outcome = Outcome::failed, result.reason = failure.reason();
    claims.release(*result.claimed);
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
    size_t skipped = 0;
    size_t counts[3] = {};
    size_t jobs = std::min<size_t>(std::max(1u, std::thread::hardware_concurrency()), maxJobs);
    std::vector<const char*> files;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const std::string option = optionsEnded ? std::string() : optionIn(arg);
        if (option.empty() && hasPngExtension(arg.c_str())) {
            files.push_back(arg.c_str());
        } else if (option.empty()) {
            ++skipped;
        } else if (option == "--") {
            optionsEnded = true;
        } else if (option == "--check") {
            check = true;
        } else if (option == "-z" || option == "--null") {
            nulls = true;
        } else if (option.rfind("-j", 0) == 0 || option == "--jobs" || option.rfind("--jobs=", 0) == 0) {
            const bool joined = option != "-j" && option != "--jobs";
            const std::string count = joined ? option.substr(option[1] == 'j' ? 2 : 7) : i + 1 < args.size() ? args[++i] : "";
            if ((jobs = jobCount(count)) == 0) {
                writeText(stderr, std::string(tool) + ": the job count must be a whole number from 1: " +
                                      quotedName(count) + "\n");
                return 2;
            }
        } else if (const int status = answerInfoOption(option, tool, help); status >= 0) {
            return status;
        } else {
            return usageError(tool, "unknown option: " + quotedName(arg), help);
        }
    }
    // Run from Explorer with nothing dropped on it, the tool says how it is used.
    if (args.size() == 1 && ownsConsoleWindow())
        return answerInfoOption("--help", tool, help);

    bool failed = false;
    bool hidden = false;
    Claims claims;
    // One image for each worker, so that its pixel buffer is reused.
    std::vector<Image> images(std::min(jobs, std::max<size_t>(files.size(), 1)));
    forEachInOrder(
        files.size(), images.size(), check ? 0 : flushesPerJob * images.size(),
        [&](size_t worker, size_t i) { return handle(images[worker], files[i], check ? nullptr : &claims); },
        [](const Result& result) { return result.replacement.pending(); },
        [&](Result& result) { settle(result, claims); },
        [&](size_t i, const Result& result) {
            failed = failed || result.outcome == Outcome::failed;
            hidden = hidden || result.outcome == Outcome::hidesColour;
            ++counts[size_t(result.outcome)];
            if (result.outcome == Outcome::failed)
                reportFailure(tool, files[i], result.reason);
            else if (check && result.outcome == Outcome::hidesColour && nulls)
                writeText(stdout, std::string(files[i], std::strlen(files[i]) + 1));
            else if (check && result.outcome == Outcome::hidesColour)
                writeText(stdout, quotedName(files[i]) + "\n");
        });
    if (ownsConsoleWindow())
        writeText(stdout, std::string(tool) + ": " + std::to_string(counts[size_t(Outcome::hidesColour)]) +
                              (check ? " hiding colour, " : " rewritten, ") + std::to_string(counts[size_t(Outcome::clean)]) +
                              " clean, " + std::to_string(counts[size_t(Outcome::failed)]) + " failed, " +
                              std::to_string(skipped) + " skipped\n");
    if (!check)
        return failed ? 1 : 0;
    // A list that never arrived must not pass for an empty one.
    if (!standardOutputWritten(tool))
        return 2;
    return failed ? 2 : hidden ? 1 : 0;
}
