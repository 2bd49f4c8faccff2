#include "failure.h"

#include <lodepng.h>

namespace {
// LodePNG's text for an empty buffer guesses at a missing file, but a missing
// file is caught before decoding; an empty buffer here is an empty file.
const unsigned emptyInput = 48;
// Said the same way as when a container runs out of memory.
const unsigned allocationFailed = 83;
} // namespace

std::string Failure::reason() const
{
    if (!fileError.empty())
        return fileError;
    if (codecError == emptyInput)
        return "empty file";
    if (codecError == allocationFailed)
        return "out of memory";
    if (codecError == animatedImage)
        return "animated PNG is not supported";
    if (codecError != 0)
        return lodepng_error_text(codecError);
    return "no error";
}
