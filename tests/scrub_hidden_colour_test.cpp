#include <gtest/gtest.h>

#include "fixtures.h"
#include "png_extension.h"
#include "scrub_hidden_colour.h"

namespace {

TEST(ScrubHiddenColour, ClearsColourOnlyWhereAlphaIsZero)
{
    const Bytes before = {12, 34, 56, 0,   12, 34, 56, 1,   0, 0, 0, 0,
                          0, 0, 9, 0,      255, 255, 255, 255, 7, 0, 0, 0};
    const Bytes after = {0, 0, 0, 0,       12, 34, 56, 1,   0, 0, 0, 0,
                         0, 0, 0, 0,       255, 255, 255, 255, 0, 0, 0, 0};
    Image image;
    image.width = 3;
    image.height = 2;
    image.pixels = before;
    EXPECT_TRUE(scrubHiddenColour(image));
    EXPECT_EQ(image.pixels, after);
    // A second pass finds nothing left to do.
    EXPECT_FALSE(scrubHiddenColour(image));
    EXPECT_EQ(image.pixels, after);
}

TEST(ScrubHiddenColour, CleanImagesAreReportedUnchanged)
{
    Image image;
    image.width = 2;
    image.height = 2;
    image.pixels = {0, 0, 0, 0, 1, 2, 3, 255, 200, 0, 0, 1, 0, 0, 0, 0};
    const Bytes before = image.pixels;
    EXPECT_FALSE(scrubHiddenColour(image));
    EXPECT_EQ(image.pixels, before);
}

TEST(PngExtension, OnlyTheLastDotCountsAndCaseMatters)
{
    EXPECT_TRUE(hasPngExtension("image.png"));
    EXPECT_TRUE(hasPngExtension("a.b.png"));
    EXPECT_TRUE(hasPngExtension("dir.d/x.png"));
    EXPECT_TRUE(hasPngExtension(".png"));
    EXPECT_FALSE(hasPngExtension("image.PNG"));
    EXPECT_FALSE(hasPngExtension("image.png.bak"));
    EXPECT_FALSE(hasPngExtension("image"));
    EXPECT_FALSE(hasPngExtension("rev.2\\image"));
    EXPECT_FALSE(hasPngExtension("rev.png/image"));
    EXPECT_FALSE(hasPngExtension("image.pngx"));
    EXPECT_FALSE(hasPngExtension(""));
}

} // namespace
