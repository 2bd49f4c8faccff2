#include "apply_stencil.h"

#include <algorithm>
#include <cstring>

StencilOutcome applyStencil(Image& colour, const Image& stencil, Box& crop)
{
    if (colour.width != stencil.width || colour.height != stencil.height ||
        colour.pixels.size() < colour.pixelBytes() || stencil.pixels.size() < stencil.pixelBytes())
        return StencilOutcome::sizesDiffer;

    const size_t width = colour.width;
    const size_t height = colour.height;
    size_t minX = width;
    size_t minY = height;
    size_t maxX = 0;
    size_t maxY = 0;
    bool visible = false;
    for (size_t y = 0; y < height; ++y) {
        for (size_t x = 0; x < width; ++x) {
            const size_t o = (y * width + x) * 4;
            const unsigned char* s = &stencil.pixels[o];
            unsigned char* c = &colour.pixels[o];
            if (s[3] == 0) {
                std::memset(c, 0, 4);
                continue;
            }
            if (s[0] < darkThreshold && s[1] < darkThreshold && s[2] < darkThreshold)
                std::memcpy(c, s, 4);
            else
                c[3] = s[3];
            visible = true;
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
    }
    if (!visible)
        return StencilOutcome::nothingVisible;

    // Each kept row moves to an offset no later than where it stands, so the
    // crop can run forward inside the one buffer.
    const size_t rowBytes = (maxX - minX + 1) * 4;
    size_t d = 0;
    for (size_t y = minY; y <= maxY; ++y) {
        std::memmove(&colour.pixels[d], &colour.pixels[(y * width + minX) * 4], rowBytes);
        d += rowBytes;
    }
    colour.width = static_cast<uint32_t>(maxX - minX + 1);
    colour.height = static_cast<uint32_t>(maxY - minY + 1);
    crop = {static_cast<uint32_t>(minX), static_cast<uint32_t>(minY), colour.width, colour.height};
    return StencilOutcome::applied;
}
