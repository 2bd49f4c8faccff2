#pragma once

#include "image.h"

// A visible stencil pixel is dark, and replaces the colour pixel, when each of
// its R, G and B is below this.
const unsigned char darkThreshold = 30;

// A rectangle of pixels: its left column, top row, width and height.
struct Box {
    uint32_t x = 0;
    uint32_t y = 0;
    uint32_t width = 0;
    uint32_t height = 0;
};

enum class StencilOutcome {
    applied,
    // The images differ in size; the colour image is unchanged.
    sizesDiffer,
    // No stencil pixel has nonzero alpha, so there is no area to crop to; the
    // colour image keeps its size and every pixel is cleared.
    nothingVisible,
};

// Fits the colour image to a stencil of the same size, in place. Each pixel
// takes the stencil's alpha; where the stencil is fully transparent it
// becomes (0, 0, 0, 0), where the stencil is dark and visible it becomes the
// stencil's pixel, and elsewhere it keeps the colour image's colour. The
// colour image is then cropped to the smallest rectangle holding every
// visible stencil pixel: width and height shrink and the kept pixels move to
// the front of the buffer, whose size is left as it was. When applied, crop
// is that rectangle in the stencil's coordinates; otherwise it is untouched.
StencilOutcome applyStencil(Image& colour, const Image& stencil, Box& crop);
