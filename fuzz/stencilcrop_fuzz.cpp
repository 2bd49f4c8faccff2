// Loads two files as colour image and stencil and does what stencilcrop does,
// checking the result against the stencil rule worked out independently.
#include <algorithm>
#include <cstdint>

#include "apply_stencil.h"
#include "fuzz_checks.h"
#include "pair_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<unsigned char> colourPng;
    std::vector<unsigned char> stencilPng;
    splitPair(data, size, colourPng, stencilPng);
    Image colour;
    Image stencil;
    if (!decodeForFuzzing(colour, colourPng) || !decodeForFuzzing(stencil, stencilPng))
        return 0;
    if (!colour.loaded || !stencil.loaded)
        return 0;

    const std::vector<unsigned char> before = colour.pixels;
    const size_t width = colour.width;
    const size_t height = colour.height;
    const StencilOutcome outcome = applyStencil(colour, stencil);

    if (width != stencil.width || height != stencil.height) {
        CHECK(outcome == StencilOutcome::sizesDiffer);
        CHECK(colour.pixels == before && colour.width == width && colour.height == height);
        return 0;
    }

    size_t minX = width, minY = height, maxX = 0, maxY = 0;
    for (size_t y = 0; y < height; ++y)
        for (size_t x = 0; x < width; ++x)
            if (stencil.pixels[(y * width + x) * 4 + 3] != 0) {
                minX = std::min(minX, x);
                minY = std::min(minY, y);
                maxX = std::max(maxX, x);
                maxY = std::max(maxY, y);
            }
    if (minX > maxX) {
        CHECK(outcome == StencilOutcome::nothingVisible);
        return 0;
    }
    CHECK(outcome == StencilOutcome::applied);
    CHECK(colour.width == maxX - minX + 1 && colour.height == maxY - minY + 1);
    CHECK(colour.pixels.size() == before.size());
    for (size_t y = 0; y < colour.height; ++y)
        for (size_t x = 0; x < colour.width; ++x) {
            const size_t from = ((y + minY) * width + x + minX) * 4;
            const unsigned char* s = &stencil.pixels[from];
            const unsigned char* c = &before[from];
            const unsigned char* r = &colour.pixels[(y * colour.width + x) * 4];
            if (s[3] == 0)
                CHECK(r[0] == 0 && r[1] == 0 && r[2] == 0 && r[3] == 0);
            else if (s[0] < 30 && s[1] < 30 && s[2] < 30)
                CHECK(std::equal(r, r + 4, s));
            else
                CHECK(r[0] == c[0] && r[1] == c[1] && r[2] == c[2] && r[3] == s[3]);
        }
    checkRoundTrip(colour);
    return 0;
}
