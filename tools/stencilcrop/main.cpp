// stencilcrop [--box] [--memory SIZE] COLOUR STENCIL PREFIX: fits COLOUR to
// STENCIL and writes the result cropped to the stencil's visible area as
// PREFIX + the stencil's name; with --box, then prints where the crop lies
// and the path written.
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "apply_stencil.h"
#include "command_line.h"
#include "console.h"
#include "image.h"
#include "left_after.h"
#include "machine.h"
#include "options.h"
#include "process.h"
#include "quote.h"
#include "report.h"

namespace {
const char* const tool = "stencilcrop";

const char* const help =
    "usage: stencilcrop [--box] [--memory SIZE] COLOUR STENCIL PREFIX\n"
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
    "  --box  once the result is written, print one line on standard output:\n"
    "         X Y WIDTH HEIGHT SOURCE_WIDTH SOURCE_HEIGHT PATH, the crop's left\n"
    "         column, top row and size in the stencil, the stencil's size and\n"
    "         the path written (in double quotes with C escapes when it holds a\n"
    "         control character, a double quote or, except on Windows, a\n"
    "         backslash)\n"
    "  --memory SIZE  handle no pair that may need more memory than SIZE\n"
    "         (512M, 4G; default: three quarters of what the system grants\n"
    "         this process)\n"
    "  --     end the options, so that an operand may start with -\n"
    "\n"
    "Exit status: 0 success, 1 a file could not be handled, 2 usage error.\n";

std::string sizeText(const Image& image)
{
    return std::to_string(image.width) + "x" + std::to_string(image.height);
}

// The path goes last, so that a shell's read takes it whole, spaces and all.
void printBox(const Box& crop, const Image& stencil, const std::string& path)
{
    std::string line;
    for (const uint32_t number :
         {crop.x, crop.y, crop.width, crop.height, stencil.width, stencil.height})
        line += std::to_string(number) + ' ';
    writeText(stdout, line + quotedName(path) + "\n");
}
} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args = startProcess(argc, argv);
    bool box = false;
    bool optionsEnded = false;
    uint64_t budget = 0;
    std::vector<std::string> operands;
    std::string value;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string option = optionsEnded ? std::string() : optionIn(args[i]);
        if (option.empty()) {
            operands.push_back(args[i]);
        } else if (option == "--") {
            optionsEnded = true;
        } else if (option == "--box") {
            box = true;
        } else if (takesValue(option, "--memory", args, i, value)) {
            if (const std::string bad = readMemorySize(value, budget); !bad.empty())
                return usageError(tool, bad, help);
        } else if (const auto status = answerInfoOption(option, tool, help)) {
            return *status;
        } else {
            return usageError(tool, "unknown option: " + quotedName(args[i]), help);
        }
    }
    budget = budget == 0 ? defaultMemoryBudget() : budget;
    // A wildcard that matched several files would shift the operands, so
    // that one input is taken for another and the output lands elsewhere.
    for (const std::string& operand : operands)
        if (const std::string pattern = wildcardMatchingSeveral(operand); !pattern.empty())
            return usageError(tool, quotedName(pattern) + ": the wildcard matches several files",
                              help);
    if (operands.size() > 3)
        return usageError(
            tool, "more than three operands: a wildcard may have matched several files", help);
    if (operands.size() < 3)
        return usageError(tool, "", help);
    const char* colourPath = operands[0].c_str();
    const char* stencilPath = operands[1].c_str();
    const std::string& prefix = operands[2];

    std::string output;
    const char* current = colourPath;
    try {
        Image colour;
        Image stencil;
        // The stencil is read even when the colour image fails, so that one
        // run reports every input that is wrong. Both are held at once, and
        // the colour image is encoded again, within the budget and within
        // what the memory groups leave, whichever is the less; a need beyond
        // it is said against that one, the two files' needs together.
        const uint64_t room = memoryRoomInGroups(), limit = std::min(budget, room);
        const auto within = [&](const Failure& failure, uint64_t held) {
            const uint64_t need = failure.code == 0 ? 0 : failure.code + held;
            return failure.kind != Failure::Kind::tooLarge ? failure
                   : room < budget                         ? Failure::groupFull(need, room)
                                                           : Failure::tooLarge(need, budget);
        };
        uint64_t colourNeed = 0;
        const bool colourLoaded = succeededElseReported(
            within(colour.load(colourPath, limit, true, &colourNeed), 0), tool, colourPath);
        current = stencilPath;
        colourNeed = colourLoaded ? colourNeed : 0;
        const bool stencilLoaded = succeededElseReported(
            within(stencil.load(stencilPath, leftAfter(limit, colourNeed)), colourNeed), tool,
            stencilPath);
        if (!colourLoaded || !stencilLoaded)
            return 1;

        // No separator is added: a prefix meant as a folder ends in one.
        output = prefix + std::string(stencilPath).substr(fileNameStart(stencilPath));
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
        if (!succeededElseReported(colour.save(output), tool, output.c_str()))
            return 1;
        if (ownsConsoleWindow())
            writeText(stdout, std::string(tool) + ": wrote " + quotedName(output) + "\n");
        if (!box)
            return 0;
        printBox(crop, stencil, output);
        return standardOutputWritten(tool) ? 0 : 1;
    } catch (const std::bad_alloc&) {
        reportFailure(tool, current, "out of memory");
        return 1;
    }
}
