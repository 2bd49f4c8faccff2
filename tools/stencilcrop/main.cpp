// stencilcrop COLOUR STENCIL PREFIX: fits COLOUR to STENCIL and writes the
// result cropped to the stencil's visible area as PREFIX + the stencil's name.
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "apply_stencil.h"
#include "image.h"
#include "info_option.h"
#include "output_path.h"
#include "process.h"
#include "report.h"

namespace {
const char* const tool = "stencilcrop";

const char* const help =
    "usage: stencilcrop COLOUR STENCIL PREFIX\n"
    "\n"
    "Fits the PNG image COLOUR to STENCIL, a PNG image of the same size, and\n"
    "writes the result, cropped to the stencil's visible area, to PREFIX\n"
    "followed directly by the stencil's file name.\n"
    "\n"
    "Where the stencil's alpha is 0 the result is (0, 0, 0, 0); where the\n"
    "stencil is visible and dark (R, G and B each below 30) the result is the\n"
    "stencil's pixel; elsewhere it is the colour image's colour with the\n"
    "stencil's alpha.\n"
    "\n"
    "Exit status: 0 success, 1 a file could not be handled, 2 usage error.\n";

std::string sizeText(const Image& image)
{
    return std::to_string(image.width) + "x" + std::to_string(image.height);
}
} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args = startProcess(argc, argv);
    if (args.size() == 2)
        if (const int status = answerInfoOption(args[1].c_str(), tool, help); status >= 0)
            return status;
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: %s COLOUR STENCIL PREFIX\n", tool);
        return 2;
    }
    const char* colourPath = args[1].c_str();
    const char* stencilPath = args[2].c_str();
    const char* prefix = args[3].c_str();

    std::string output;
    const char* current = colourPath;
    try {
        Image colour;
        Image stencil;
        // The stencil is read even when the colour image fails, so that one
        // run reports every input that is wrong.
        const bool colourLoaded = loadOrReport(colour, tool, colourPath);
        current = stencilPath;
        const bool stencilLoaded = loadOrReport(stencil, tool, stencilPath);
        if (!colourLoaded || !stencilLoaded)
            return 1;

        output = outputPath(prefix, stencilPath);
        Box crop;
        switch (applyStencil(colour, stencil, crop)) {
        case StencilOutcome::applied:
            break;
        case StencilOutcome::sizesDiffer:
            reportFailure(tool, stencilPath,
                          "stencil is " + sizeText(stencil) + " but the colour image is " +
                              sizeText(colour));
            return 1;
        case StencilOutcome::nothingVisible:
            reportFailure(tool, stencilPath, "stencil has no visible pixel");
            return 1;
        }

        current = output.c_str();
        return saveOrReport(colour, tool, output.c_str()) ? 0 : 1;
    } catch (const std::bad_alloc&) {
        reportFailure(tool, current, "out of memory");
        return 1;
    }
}
