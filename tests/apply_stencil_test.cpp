#include <gtest/gtest.h>

#include "apply_stencil.h"
#include "fixtures.h"

namespace {

void fill(Image& image, unsigned width, unsigned height, const Bytes& rgba)
{
    image.width = width;
    image.height = height;
    image.pixels = rgba;
}

// The result pixel for a colour pixel under a stencil pixel, worked out
// from the rule rather than from the code.
Rgba expectedPixel(Rgba colour, Rgba stencil)
{
    if (stencil[3] == 0)
        return {0, 0, 0, 0};
    if (stencil[0] <= 29 && stencil[1] <= 29 && stencil[2] <= 29)
        return stencil;
    return {colour[0], colour[1], colour[2], stencil[3]};
}

TEST(ApplyStencil, PixelRule)
{
    const Rgba colour = {100, 150, 200, 77};
    const Rgba stencils[] = {
        {0, 0, 0, 0},         // hidden: cleared
        {200, 10, 10, 0},     // hidden whatever its colour
        {10, 20, 29, 128},    // dark: the stencil wins
        {29, 29, 29, 1},      // dark at the edge of the threshold
        {30, 0, 0, 255},      // one channel at the threshold: not dark
        {0, 30, 0, 255},
        {0, 0, 30, 255},
        {255, 255, 255, 1},   // light: colour kept, alpha from the stencil
        {128, 128, 128, 255},
    };
    for (const Rgba& s : stencils) {
        SCOPED_TRACE(::testing::PrintToString(s));
        Image a;
        Image b;
        // Visible pixels on both sides pin the crop to the whole 3 x 1 image.
        fill(a, 3, 1, {1, 1, 1, 1, colour[0], colour[1], colour[2], colour[3], 1, 1, 1, 1});
        fill(b, 3, 1, {255, 255, 255, 255, s[0], s[1], s[2], s[3], 255, 255, 255, 255});
        ASSERT_EQ(applyStencil(a, b), StencilOutcome::applied);
        ASSERT_EQ(a.width, 3u);
        EXPECT_EQ(pixelAt(a.pixels, a.width, 1, 0), expectedPixel(colour, s));
    }
}

TEST(ApplyStencil, CropsToTheVisibleArea)
{
    const unsigned size = 10;
    Bytes colour = makeRgba(size, size, [](unsigned x, unsigned y) {
        return Rgba{static_cast<unsigned char>(100 + x), static_cast<unsigned char>(100 + y), 50, 255};
    });
    Bytes stencil = makeRgba(size, size, [](unsigned x, unsigned y) {
        if ((x == 3 && y == 5) || (x == 6 && y == 8))
            return Rgba{255, 255, 255, 200};
        return Rgba{255, 255, 255, 0};
    });
    Image a;
    Image b;
    fill(a, size, size, colour);
    fill(b, size, size, stencil);
    ASSERT_EQ(applyStencil(a, b), StencilOutcome::applied);
    ASSERT_EQ(a.width, 4u);
    ASSERT_EQ(a.height, 4u);
    // The buffer keeps its size; only the front is the image.
    EXPECT_EQ(a.pixels.size(), colour.size());
    for (unsigned y = 0; y < 4; ++y)
        for (unsigned x = 0; x < 4; ++x) {
            SCOPED_TRACE(::testing::Message() << x << "," << y);
            Rgba expected = expectedPixel(pixelAt(colour, size, x + 3, y + 5),
                                          pixelAt(stencil, size, x + 3, y + 5));
            EXPECT_EQ(pixelAt(a.pixels, 4, x, y), expected);
        }
    EXPECT_EQ(pixelAt(a.pixels, 4, 0, 0), (Rgba{103, 105, 50, 200}));
    EXPECT_EQ(pixelAt(a.pixels, 4, 3, 3), (Rgba{106, 108, 50, 200}));
}

TEST(ApplyStencil, CropMovesRowsOntoTheirOwnOldPlace)
{
    // Each kept row overlaps where it stood, which a plain forward copy of
    // whole rows would garble.
    const unsigned width = 7;
    const unsigned height = 5;
    Bytes colour = makeRgba(width, height, [](unsigned x, unsigned y) {
        return Rgba{static_cast<unsigned char>(x), static_cast<unsigned char>(y), 99, 255};
    });
    Bytes stencil = makeRgba(width, height, [](unsigned x, unsigned y) {
        return Rgba{128, 128, 128, static_cast<unsigned char>(x >= 1 && y <= 2 ? 255 : 0)};
    });
    Image a;
    Image b;
    fill(a, width, height, colour);
    fill(b, width, height, stencil);
    ASSERT_EQ(applyStencil(a, b), StencilOutcome::applied);
    ASSERT_EQ(a.width, 6u);
    ASSERT_EQ(a.height, 3u);
    for (unsigned y = 0; y < 3; ++y)
        for (unsigned x = 0; x < 6; ++x)
            EXPECT_EQ(pixelAt(a.pixels, 6, x, y),
                      (Rgba{static_cast<unsigned char>(x + 1), static_cast<unsigned char>(y), 99, 255}));
}

TEST(ApplyStencil, VisibleCornersKeepTheFullSize)
{
    Bytes stencil = makeRgba(6, 4, [](unsigned x, unsigned y) {
        bool corner = (x == 0 || x == 5) && (y == 0 || y == 3);
        return Rgba{0, 0, 0, static_cast<unsigned char>(corner ? 255 : 0)};
    });
    Image a;
    Image b;
    fill(a, 6, 4, Bytes(6 * 4 * 4, 200));
    fill(b, 6, 4, stencil);
    ASSERT_EQ(applyStencil(a, b), StencilOutcome::applied);
    EXPECT_EQ(a.width, 6u);
    EXPECT_EQ(a.height, 4u);
    EXPECT_EQ(a.pixels, stencil);
}

TEST(ApplyStencil, RefusesWhatItCannotCrop)
{
    Image a;
    Image b;
    const Bytes colour(4 * 3 * 4, 50);
    fill(a, 4, 3, colour);
    fill(b, 3, 4, Bytes(3 * 4 * 4, 255));
    EXPECT_EQ(applyStencil(a, b), StencilOutcome::sizesDiffer);
    EXPECT_EQ(a.pixels, colour);
    EXPECT_EQ(a.width, 4u);

    // A stencil buffer shorter than its stated size is never read past.
    fill(b, 4, 3, Bytes(4 * 3 * 4 - 1, 255));
    EXPECT_EQ(applyStencil(a, b), StencilOutcome::sizesDiffer);

    fill(b, 4, 3, makeRgba(4, 3, [](unsigned, unsigned) { return Rgba{9, 9, 9, 0}; }));
    EXPECT_EQ(applyStencil(a, b), StencilOutcome::nothingVisible);
    EXPECT_EQ(a.width, 4u);
    EXPECT_EQ(a.height, 3u);
}

} // namespace
