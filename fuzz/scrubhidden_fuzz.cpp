// Loads a file and does what scrubhidden does, checking that only the colour
// of fully transparent pixels changed and that it changed to black.
#include <cstdint>

#include "fuzz_checks.h"
#include "scrub_hidden_colour.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<unsigned char> png(data, data + size);
    Image image;
    if (!decodeForFuzzing(image, png) || !image.loaded)
        return 0;

    const std::vector<unsigned char> before = image.pixels;
    const bool changed = scrubHiddenColour(image);
    bool differs = false;
    for (size_t o = 0; o < before.size(); o += 4) {
        const unsigned char* b = &before[o];
        const unsigned char* a = &image.pixels[o];
        CHECK(a[3] == b[3]);
        if (b[3] == 0)
            CHECK(a[0] == 0 && a[1] == 0 && a[2] == 0);
        else
            CHECK(a[0] == b[0] && a[1] == b[1] && a[2] == b[2]);
        differs = differs || a[0] != b[0] || a[1] != b[1] || a[2] != b[2];
    }
    CHECK(changed == differs);
    CHECK(!scrubHiddenColour(image));
    checkRoundTrip(image);
    return 0;
}
