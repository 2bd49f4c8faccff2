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
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "console.h"
#include "hidden_colour_possible.h"
#include "image.h"
#include "in_order.h"
#include "info_option.h"
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
// Each job and each flush under way holds one of the 256 records of
// temporary files at most.
const size_t maxJobs = 48;

enum class Outcome { clean, hidesColour, failed };

// What a job holds while it rewrites a file: where the file is (its folder's
// device and number, and its name there), and what it is (its own device and
// number, with no name, which no place has), so that hard links to it wait too.
using Place = std::tuple<uint64_t, uint64_t, std::string>;

// The places and files that jobs are rewriting, so that a file named twice,
// under any names, is read by a job only once the one before it is done with
// it, and sees what that one left, as with one job.
struct Claims {
    std::mutex mutex;
    std::condition_variable released;
    std::set<Place> busy;

    // Returns whether it had to wait for another job.
    bool claim(const Place& place)
    {
        std::unique_lock<std::mutex> lock(mutex);
        const bool taken = busy.count(place) != 0;
        released.wait(lock, [&] { return busy.count(place) == 0; });
        busy.insert(place);
        return taken;
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
    // What this job holds until its rewrite is done.
    std::vector<Place> claimed;
};

// Reads the file, which must be a regular one, claiming it where there are
// claims, and judges it, from its chunks where they decide and from its
// pixels where not; the pixels are then left scrubbed in image. The file
// bytes go before anything is encoded, so that they never add to the peak.
Outcome examine(Image& image, const char* path, Claims* claims, std::vector<Place>& claimed)
{
    std::vector<unsigned char> png;
    if (!image.find(path))
        return Outcome::failed;
    if (claims != nullptr) {
        claimed.emplace_back(image.source.folderStatus.device, image.source.folderStatus.file, image.source.name);
        claims->claim(claimed.back());
    }
    if (!image.read(png))
        return Outcome::failed;
    // A job that rewrote another name of this file is done with it only now,
    // and the file is read again as that job left it.
    if (claims != nullptr) {
        claimed.emplace_back(image.source.status.device, image.source.status.file, std::string());
        if (claims->claim(claimed.back()) && !image.read(png))
            return Outcome::failed;
    }
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
    if (!result.replacement.pending()) {
        for (const Place& place : result.claimed)
            claims->release(place);
        result.claimed.clear();
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
    for (const Place& place : result.claimed)
        claims.release(place);
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
            if (result.outcome == Outcome::failed)
                reportFailure(tool, files[i], result.reason);
            else if (check && result.outcome == Outcome::hidesColour && nulls)
                writeText(stdout, std::string(files[i], std::strlen(files[i]) + 1));
            else if (check && result.outcome == Outcome::hidesColour)
                writeText(stdout, quotedName(files[i]) + "\n");
        });
    if (!check)
        return failed ? 1 : 0;
    // A list that never arrived must not pass for an empty one.
    if (!standardOutputWritten(tool))
        return 2;
    return failed ? 2 : hidden ? 1 : 0;
}
