#pragma once

// What both fuzz targets share: skipping inputs too large to be worth a run,
// and failing loudly when a property does not hold.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "image.h"

// Decodes as the tools do, except that checksums are not verified: the
// codec is not instrumented, so the fuzzer cannot learn to fix them, and
// nearly every mutated input would stop at a checksum before reaching the
// tools' own code. A short input can also declare a huge image of zeros,
// which proves nothing more than a small one and would only slow the search
// down; such inputs are not decoded and false is returned.
inline bool decodeForFuzzing(Image& image, const std::vector<unsigned char>& png)
{
    image.codecState.decoder.ignore_crc = 1;
    image.codecState.decoder.zlibsettings.ignore_adler32 = 1;
    unsigned width = 0;
    unsigned height = 0;
    if (lodepng_inspect(&width, &height, &image.codecState, png.data(), png.size()) == 0 &&
        size_t(width) * height > (size_t(1) << 20))
        return false;
    image.decode(png);
    return true;
}

#define CHECK(condition)                                                                           \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);   \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

// Encoding in memory and decoding again must give back exactly the image.
inline void checkRoundTrip(Image& image)
{
    std::vector<unsigned char> png;
    if (!image.encode(png))
        return;
    std::vector<unsigned char> decoded;
    unsigned width = 0;
    unsigned height = 0;
    CHECK(lodepng::decode(decoded, width, height, png) == 0);
    CHECK(width == image.width && height == image.height);
    CHECK(decoded.size() == image.pixelBytes());
    CHECK(std::equal(decoded.begin(), decoded.end(), image.pixels.begin()));
}
