// scrubhidden FILE...: sets the colour of fully transparent pixels to black in
// each PNG file named, rewriting a file only when something changed.
#include <new>
#include <vector>

#include "image.h"
#include "info_option.h"
#include "png_extension.h"
#include "report.h"
#include "scrub_hidden_colour.h"

namespace {
const char* const tool = "scrubhidden";

const char* const help =
    "usage: scrubhidden FILE...\n"
    "\n"
    "Sets the colour of every fully transparent pixel to black in each FILE\n"
    "whose name ends in \".png\", rewriting a file in place only when a pixel\n"
    "changed. Other arguments are skipped.\n"
    "\n"
    "Exit status: 0 success, 1 some file could not be handled.\n";
} // namespace

int main(int argc, char** argv)
{
    // None of these words ends in ".png", so answering them costs no file.
    for (int i = 1; i < argc; ++i)
        if (printInfoOption(argv[i], tool, help))
            return 0;

    bool failed = false;
    // One image for all files, so its pixel buffer is reused.
    Image image;
    for (int i = 1; i < argc; ++i) {
        const char* path = argv[i];
        if (!hasPngExtension(path))
            continue;
        try {
            if (!loadOrReport(image, tool, path) ||
                (scrubHiddenColour(image) && !saveOrReport(image, tool, path)))
                failed = true;
        } catch (const std::bad_alloc&) {
            // Give the memory back so that smaller files after this one can
            // still be handled.
            std::vector<unsigned char>().swap(image.pixels);
            reportFailure(tool, path, "out of memory");
            failed = true;
        }
    }
    return failed ? 1 : 0;
}
