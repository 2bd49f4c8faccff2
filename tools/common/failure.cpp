#include "failure.h"

#include <cstdio>

#include <lodepng.h>

namespace {
// LodePNG's text for an empty buffer guesses at a missing file, but a missing
// file is caught before decoding; an empty buffer here is an empty file.
const unsigned emptyInput = 48;
// Said the same way as when a container runs out of memory.
const unsigned allocationFailed = 83;
// The image data inflate to more than the header's size, where the decoder
// was told to stop.
const unsigned inflatedPastSize = 109;
} // namespace

std::string sizeText(uint64_t bytes)
{
    const char* const units[] = {"bytes", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    size_t unit = 0;
    double size = double(bytes);
    for (; size >= 1024 && unit + 1 < sizeof units / sizeof *units; ++unit)
        size /= 1024;
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 || size >= 10 ? "%.0f %s" : "%.1f %s", size,
                  units[unit]);
    return text;
}

std::string Failure::reason() const
{
    switch (kind) {
    case Kind::none:
        return "no error";
    case Kind::system:
        return systemReason(code);
    case Kind::codec:
        if (code == emptyInput)
            return "empty file";
        if (code == allocationFailed)
            return "out of memory";
        if (code == inflatedPastSize)
            return "image data larger than the header says";
        return lodepng_error_text(unsigned(code));
    case Kind::notPng:
        return "not a PNG file";
    case Kind::truncated:
        return "truncated PNG file";
    case Kind::folder:
        return "is a folder";
    case Kind::notRegular:
        return "not a regular file";
    case Kind::exists:
        return "file exists";
    case Kind::denied:
        return "Permission denied";
    case Kind::changed:
        return "file changed while it was being handled";
    case Kind::notReplaceable:
        return "the file or its folder is append-only or immutable";
    case Kind::metadataLost:
        return "cannot give the new file the old one's ACL and extended attributes: " +
               systemReason(code);
    case Kind::ownerLost:
        return "cannot give the new file the old one's owner: " + systemReason(code);
    case Kind::animated:
        return "animated PNG is not supported";
    case Kind::inUse:
        return "in use by another program";
    case Kind::tooLarge:
    case Kind::groupFull: {
        const bool budget = kind == Kind::tooLarge;
        return (code == 0 ? std::string("needs more")
                          : "needs " + sizeText(code) + (budget ? " to handle, more" : ", more")) +
               " than the " + sizeText(limit) +
               (budget ? " this run may use" : " left in this run's memory group");
    }
    case Kind::device:
        return "is a device";
    case Kind::notFolder:
        return "not a folder";
    }
    return "unknown failure";
}
