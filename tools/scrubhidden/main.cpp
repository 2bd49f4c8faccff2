// scrubhidden [--check] FILE...: sets the colour of fully transparent pixels
// to black in each PNG file named, rewriting a file only when something
// changed; with --check, lists the files that would change instead.
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "hidden_colour_possible.h"
#include "image.h"
#include "info_option.h"
#include "png_extension.h"
#include "process.h"
#include "report.h"
#include "scrub_hidden_colour.h"

namespace {
const char* const tool = "scrubhidden";

const char* const help =
    "usage: scrubhidden [--check] FILE...\n"
    "\n"
    "Sets the colour of every fully transparent pixel to black in each FILE\n"
    "whose name ends in \".png\", rewriting a file in place only when a pixel\n"
    "changed. Other arguments are skipped.\n"
    "\n"
    "  --check  write nothing; list the files that hold hidden colour\n"
    "\n"
    "Exit status: 0 success, 1 some file could not be handled. With --check:\n"
    "0 no file holds hidden colour, 1 some file does, 2 some file could not\n"
    "be handled.\n";

enum class Outcome { clean, hidesColour, failed };

// Reads the file, which must be a regular one, and judges it, from its
// chunks where they decide and from its pixels where not; the pixels are then left scrubbed in image. The file
// bytes go before anything is encoded, so that they never add to the peak.
Outcome examine(Image& image, const char* path)
{
    std::vector<unsigned char> png;
    if (!reportUnless(image.read(path, png), image, tool, path))
        return Outcome::failed;
    if (!mayHoldHiddenColour(png))
        return Outcome::clean;
    image.decode(png);
    if (!reportUnless(image.loaded, image, tool, path))
        return Outcome::failed;
    return scrubHiddenColour(image) ? Outcome::hidesColour : Outcome::clean;
}
} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args = startProcess(argc, argv);
    bool check = false;
    // None of these words ends in ".png", so none is ever taken for a file.
    for (size_t i = 1; i < args.size(); ++i) {
        if (const int status = answerInfoOption(args[i].c_str(), tool, help); status >= 0)
            return status;
        check = check || args[i] == "--check";
    }

    bool failed = false;
    bool hidden = false;
    // One image for all files, so its pixel buffer is reused.
    Image image;
    for (size_t i = 1; i < args.size(); ++i) {
        const char* path = args[i].c_str();
        if (!hasPngExtension(path))
            continue;
        try {
            const Outcome outcome = examine(image, path);
            failed = failed || outcome == Outcome::failed;
            if (outcome != Outcome::hidesColour)
                continue;
            hidden = true;
            if (check)
                std::printf("%s\n", path);
            else if (!reportUnless(image.rewrite(), image, tool, path))
                failed = true;
        } catch (const std::bad_alloc&) {
            // Give the memory back so that smaller files after this one can
            // still be handled.
            std::vector<unsigned char>().swap(image.pixels);
            reportFailure(tool, path, "out of memory");
            failed = true;
        }
    }
    if (!check)
        return failed ? 1 : 0;
    // A list that never arrived must not pass for an empty one.
    if (!standardOutputWritten(tool))
        return 2;
    return failed ? 2 : hidden ? 1 : 0;
}
