// Runs the built stencilcrop and checks what it wrote by decoding it again.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "fixtures.h"

namespace {

const std::string program = STENCILCROP_PATH;

// A colour image and a stencil that leaves a 3 x 2 area visible, at (1, 1).
struct Pair {
    static const unsigned width = 5;
    static const unsigned height = 4;
    Bytes colour = makeRgba(width, height, [](unsigned x, unsigned y) {
        return Rgba{static_cast<unsigned char>(40 * x), static_cast<unsigned char>(50 * y), 200, 0};
    });
    Bytes stencil = makeRgba(width, height, [](unsigned x, unsigned y) {
        if (x < 1 || x > 3 || y < 1 || y > 2)
            return Rgba{255, 0, 0, 0};
        if (x == 2)
            return Rgba{12, 29, 3, 99}; // dark
        return Rgba{30, 200, 200, static_cast<unsigned char>(60 * x)};
    });

    // The result, worked out by hand from the rule.
    Bytes expected() const
    {
        return makeRgba(3, 2, [](unsigned x, unsigned y) {
            unsigned sx = x + 1;
            if (sx == 2)
                return Rgba{12, 29, 3, 99};
            return Rgba{static_cast<unsigned char>(40 * sx), static_cast<unsigned char>(50 * (y + 1)), 200,
                        static_cast<unsigned char>(60 * sx)};
        });
    }
};

struct StencilCrop : ::testing::Test {
    TempDir dir;
    Pair pair;

    void writePair(const std::string& colourName, const std::string& stencilName,
                   const PngLayout& colourLayout = PngLayout(), const PngLayout& stencilLayout = PngLayout())
    {
        writeBytes(dir.file(colourName), encodeRaw(pair.colour, Pair::width, Pair::height, colourLayout));
        writeBytes(dir.file(stencilName), encodeRaw(pair.stencil, Pair::width, Pair::height, stencilLayout));
    }

    RunResult crop(const std::vector<std::string>& args) { return run(program, args, dir.path); }
};

TEST_F(StencilCrop, WritesTheCroppedResultSilently)
{
    writePair("colour.png", "stencil.png");
    ::mkdir(dir.file("out").c_str(), 0755);
    RunResult r = crop({"colour.png", "stencil.png", "out/", "ignored extra"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    Decoded out = decodeFile(dir.file("out/stencil.png"));
    ASSERT_EQ(out.error, 0u);
    EXPECT_EQ(out.width, 3u);
    EXPECT_EQ(out.height, 2u);
    EXPECT_EQ(out.rgba, pair.expected());
}

TEST_F(StencilCrop, AncillaryDataComesFromTheColourFileOnly)
{
    PngLayout colourLayout;
    colourLayout.interlaced = true;
    colourLayout.texts = {{"Comment", "from the colour file"}};
    PngLayout stencilLayout;
    stencilLayout.texts = {{"Comment", "from the stencil"}, {"Other", "x"}};
    writePair("colour.png", "stencil.png", colourLayout, stencilLayout);
    ASSERT_EQ(crop({"colour.png", "stencil.png", "out-"}).status, 0);
    Decoded out = decodeFile(dir.file("out-stencil.png"));
    ASSERT_EQ(out.error, 0u);
    EXPECT_EQ(out.state.info_png.interlace_method, 1u);
    EXPECT_EQ(textsOf(out), colourLayout.texts);
    EXPECT_EQ(out.rgba, pair.expected());

    // And an interlaced stencil does not make the output interlaced.
    stencilLayout.interlaced = true;
    writePair("colour.png", "stencil.png", PngLayout(), stencilLayout);
    ASSERT_EQ(crop({"colour.png", "stencil.png", "out-"}).status, 0);
    out = decodeFile(dir.file("out-stencil.png"));
    EXPECT_EQ(out.state.info_png.interlace_method, 0u);
    EXPECT_TRUE(textsOf(out).empty());
}

TEST_F(StencilCrop, NamesTheOutputAfterTheStencil)
{
    // Backslashes are plain characters in names here, which lets the
    // separator rules be seen in the names of the files written.
    writePair("in\\hero.png", "C:\\art\\stencils\\hero_s.png");
    ASSERT_EQ(crop({"in\\hero.png", "C:\\art\\stencils\\hero_s.png", "D:\\out\\"}).status, 0);
    EXPECT_TRUE(fileExists(dir.file("D:\\out\\hero_s.png")));

    ::mkdir(dir.file("a").c_str(), 0755);
    writePair("colour.png", "a/b.png");
    ASSERT_EQ(crop({"colour.png", "a/b.png", "out"}).status, 0);
    EXPECT_TRUE(fileExists(dir.file("outb.png")));

    ASSERT_EQ(crop({"colour.png", "a/b.png", ""}).status, 0);
    Decoded out = decodeFile(dir.file("b.png"));
    ASSERT_EQ(out.error, 0u);
    EXPECT_EQ(out.rgba, pair.expected());
}

TEST_F(StencilCrop, ReplacesAnExistingOutput)
{
    writePair("colour.png", "stencil.png");
    writeBytes(dir.file("out-stencil.png"), Bytes{'o', 'l', 'd'});
    ASSERT_EQ(crop({"colour.png", "stencil.png", "out-"}).status, 0);
    EXPECT_EQ(decodeFile(dir.file("out-stencil.png")).rgba, pair.expected());
}

TEST_F(StencilCrop, UsageErrorReadsAndWritesNothing)
{
    writePair("colour.png", "stencil.png");
    for (const auto& args : std::vector<std::vector<std::string>>{{}, {"colour.png"}, {"colour.png", "stencil.png"}}) {
        RunResult r = crop(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "usage: stencilcrop COLOUR STENCIL PREFIX\n");
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"colour.png", "stencil.png"}));
}

TEST_F(StencilCrop, HelpAndVersionOnlyAsTheSoleArgument)
{
    for (const std::string option : {"--help", "-h"}) {
        RunResult r = crop({option});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind("usage: stencilcrop COLOUR STENCIL PREFIX\n", 0), 0u) << r.out;
        EXPECT_EQ(r.err, "");
    }
    RunResult r = crop({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("stencilcrop ") + PNGTOOLS_VERSION + "\n");

    // Among other arguments they are paths like any other.
    r = crop({"--help", "stencil.png", "out-"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("stencilcrop: --help: No such file or directory\n", 0), 0u) << r.err;
    EXPECT_EQ(crop({"--version", "x"}).status, 2);
}

TEST_F(StencilCrop, EachFailureIsReportedAndWritesNothing)
{
    writePair("colour.png", "stencil.png");
    const std::string text = "This is a text file, not a picture at all.\n";
    writeBytes(dir.file("text.png"), Bytes(text.begin(), text.end()));
    writeBytes(dir.file("wide.png"), encodeRgba(Bytes(6 * 4 * 4, 255), 6, 4));
    writeBytes(dir.file("hidden.png"), encodeRgba(Bytes(5 * 4 * 4, 0), 5, 4));
    const std::vector<std::string> inputs = dir.entries();

    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {{"missing.png", "stencil.png", "out-"}, "stencilcrop: missing.png: No such file or directory\n"},
        {{"colour.png", "text.png", "out-"},
         "stencilcrop: text.png: incorrect PNG signature, it's no PNG or corrupted\n"},
        {{"missing.png", "gone.png", "out-"},
         "stencilcrop: missing.png: No such file or directory\n"
         "stencilcrop: gone.png: No such file or directory\n"},
        {{"colour.png", "wide.png", "out-"}, "stencilcrop: wide.png: stencil is 6x4 but the colour image is 5x4\n"},
        {{"colour.png", "hidden.png", "out-"}, "stencilcrop: hidden.png: stencil has no visible pixel\n"},
        {{"colour.png", "stencil.png", "no/such/dir/"},
         "stencilcrop: no/such/dir/stencil.png: No such file or directory\n"},
        {{"colour.png", "stencil.png", std::string(300, 'x')},
         "stencilcrop: " + std::string(300, 'x') + "stencil.png: File name too long\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1] + " " + c.args[2]);
        RunResult r = crop(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(dir.entries(), inputs);
    }
}

} // namespace
