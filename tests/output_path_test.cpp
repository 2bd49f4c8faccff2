#include <gtest/gtest.h>

#include "output_path.h"

namespace {

TEST(OutputPath, PrefixFollowedByTheStencilsFileName)
{
    EXPECT_EQ(outputPath("D:\\out\\", "C:\\art\\stencils\\hero_s.png"), "D:\\out\\hero_s.png");
    EXPECT_EQ(outputPath("out", "a\\b.png"), "outb.png");
    EXPECT_EQ(outputPath("out\\", "b.png"), "out\\b.png");
    EXPECT_EQ(outputPath("", "dir\\b.png"), "b.png");
    EXPECT_EQ(outputPath("out/", "art/stencils/b.png"), "out/b.png");
    EXPECT_EQ(outputPath("x-", "a/b\\c.png"), "x-c.png");
    EXPECT_EQ(outputPath("x-", "a\\b/c.png"), "x-c.png");
}

} // namespace
