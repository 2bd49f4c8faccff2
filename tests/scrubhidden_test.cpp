// Runs the built scrubhidden and checks what it wrote by decoding it again.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fixtures.h"

namespace {

const std::string program = SCRUBHIDDEN_PATH;

// A 4 x 2 picture with colour behind its transparent pixels.
const Bytes dirty = {12, 34, 56, 0, 12, 34, 56, 1, 0, 0, 0, 0, 90, 0, 0, 0,
                     1, 1, 1, 255, 0, 0, 77, 0, 5, 5, 5, 5, 255, 255, 255, 0};

// The same with every pixel of alpha 0 made black, worked out by hand.
const Bytes scrubbed = {0, 0, 0, 0, 12, 34, 56, 1, 0, 0, 0, 0, 0, 0, 0, 0,
                        1, 1, 1, 255, 0, 0, 0, 0, 5, 5, 5, 5, 0, 0, 0, 0};

struct ScrubHidden : ::testing::Test {
    TempDir dir;

    RunResult scrub(const std::vector<std::string>& args) { return run(program, args, dir.path); }

    // Dates a file back, so that a rewrite would show in its time.
    void age(const std::string& name)
    {
        struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, dir.file(name).c_str(), times, 0), 0);
    }

    time_t modified(const std::string& name)
    {
        struct stat info;
        return ::stat(dir.file(name).c_str(), &info) == 0 ? info.st_mtime : 0;
    }

    void expectUntouched(const std::string& name, const Bytes& bytes)
    {
        EXPECT_EQ(readBytes(dir.file(name)), bytes) << name;
        EXPECT_EQ(modified(name), 1000000000) << name;
    }
};

TEST_F(ScrubHidden, CleansHiddenColourSilently)
{
    PngLayout layout;
    layout.texts = {{"Comment", "kept"}};
    layout.interlaced = true;
    writeBytes(dir.file("dirty.png"), encodeRaw(dirty, 4, 2, layout));
    RunResult r = scrub({"dirty.png"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    Decoded out = decodeFile(dir.file("dirty.png"));
    ASSERT_EQ(out.error, 0u);
    EXPECT_EQ(out.rgba, scrubbed);
    EXPECT_EQ(textsOf(out), layout.texts);
    EXPECT_EQ(out.state.info_png.interlace_method, 1u);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"dirty.png"});
}

TEST_F(ScrubHidden, CleanFilesAreNotRewritten)
{
    const Bytes clean = encodeRaw(scrubbed, 4, 2, PngLayout());
    PngLayout rgb;
    rgb.colourType = LCT_RGB;
    const Bytes opaque = encodeRaw(Bytes(4 * 2 * 3, 200), 4, 2, rgb);
    writeBytes(dir.file("clean.png"), clean);
    writeBytes(dir.file("opaque.png"), opaque);
    age("clean.png");
    age("opaque.png");
    RunResult r = scrub({"clean.png", "opaque.png"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    expectUntouched("clean.png", clean);
    expectUntouched("opaque.png", opaque);
}

TEST_F(ScrubHidden, HiddenColourInOtherColourTypes)
{
    // A colour key that is not black: the keyed pixels come out black and
    // still transparent.
    PngLayout keyed;
    keyed.colourType = LCT_RGB;
    keyed.colourKey = true;
    keyed.keyR = 255;
    keyed.keyG = 0;
    keyed.keyB = 255;
    writeBytes(dir.file("keyed.png"), encodeRaw({255, 0, 255, 10, 20, 30, 255, 0, 254, 255, 0, 255}, 2, 2, keyed));

    PngLayout palette;
    palette.colourType = LCT_PALETTE;
    palette.palette = {{0, 200, 0, 0}, {50, 60, 70, 255}};
    writeBytes(dir.file("palette.png"), encodeRaw({0, 1, 1, 0}, 2, 2, palette));

    PngLayout greyAlpha;
    greyAlpha.colourType = LCT_GREY_ALPHA;
    writeBytes(dir.file("grey.png"), encodeRaw({80, 0, 80, 255, 0, 0, 3, 0}, 2, 2, greyAlpha));

    ASSERT_EQ(scrub({"keyed.png", "palette.png", "grey.png"}).status, 0);
    EXPECT_EQ(decodeFile(dir.file("keyed.png")).rgba,
              (Bytes{0, 0, 0, 0, 10, 20, 30, 255, 255, 0, 254, 255, 0, 0, 0, 0}));
    EXPECT_EQ(decodeFile(dir.file("palette.png")).rgba,
              (Bytes{0, 0, 0, 0, 50, 60, 70, 255, 50, 60, 70, 255, 0, 0, 0, 0}));
    EXPECT_EQ(decodeFile(dir.file("grey.png")).rgba,
              (Bytes{0, 0, 0, 0, 80, 80, 80, 255, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(ScrubHidden, HandlesOnlyArgumentsEndingInPng)
{
    const Bytes png = encodeRaw(dirty, 4, 2, PngLayout());
    const std::vector<std::string> skipped = {"image.PNG", "image.png.bak", "noextension", "rev.2\\image"};
    for (const std::string& name : skipped) {
        writeBytes(dir.file(name), png);
        age(name);
    }
    writeBytes(dir.file("a.b.png"), png);
    RunResult r = scrub({"image.PNG", "image.png.bak", "noextension", "rev.2\\image", "a.b.png"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    for (const std::string& name : skipped)
        expectUntouched(name, png);
    EXPECT_EQ(decodeFile(dir.file("a.b.png")).rgba, scrubbed);

    // Nothing to do is no failure, and neither is an argument that is skipped
    // even though it does not exist.
    EXPECT_EQ(scrub({}).status, 0);
    EXPECT_EQ(scrub({"missing.txt"}).status, 0);
}

TEST_F(ScrubHidden, HelpOrVersionAnywhereHandlesNoFile)
{
    const Bytes png = encodeRaw(dirty, 4, 2, PngLayout());
    writeBytes(dir.file("a.png"), png);
    age("a.png");
    RunResult r = scrub({"a.png", "--version", "missing.png"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("scrubhidden ") + PNGTOOLS_VERSION + "\n");
    EXPECT_EQ(r.err, "");
    r = scrub({"a.png", "-h"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("usage: scrubhidden FILE...\n", 0), 0u) << r.out;
    EXPECT_EQ(scrub({"--help"}).out, r.out);
    expectUntouched("a.png", png);
}

TEST_F(ScrubHidden, FailuresAreReportedAndTheLoopGoesOn)
{
    const Bytes png = encodeRaw(dirty, 4, 2, PngLayout());
    Bytes damaged = png;
    damaged[20] ^= 0xff; // inside the header chunk, so its CRC no longer matches
    const std::string text = "This is a text file, not a picture at all.\n";
    writeBytes(dir.file("first.png"), png);
    writeBytes(dir.file("damaged.png"), damaged);
    writeBytes(dir.file("text.png"), Bytes(text.begin(), text.end()));
    ::mkdir(dir.file("folder.png").c_str(), 0755);
    writeBytes(dir.file("last.png"), png);
    age("damaged.png");
    age("text.png");

    RunResult r = scrub({"first.png", "damaged.png", "missing.png", "text.png", "folder.png", "last.png"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string("scrubhidden: damaged.png: ") + lodepng_error_text(57) + "\n" +
                         "scrubhidden: missing.png: No such file or directory\n" +
                         "scrubhidden: text.png: " + lodepng_error_text(28) + "\n" +
                         "scrubhidden: folder.png: Is a directory\n");
    EXPECT_EQ(decodeFile(dir.file("first.png")).rgba, scrubbed);
    EXPECT_EQ(decodeFile(dir.file("last.png")).rgba, scrubbed);
    expectUntouched("damaged.png", damaged);
    expectUntouched("text.png", Bytes(text.begin(), text.end()));
}

TEST_F(ScrubHidden, RewriteKeepsModeAndLinks)
{
    writeBytes(dir.file("shared.png"), encodeRaw(dirty, 4, 2, PngLayout()));
    ::chmod(dir.file("shared.png").c_str(), 0604);
    ASSERT_EQ(::symlink("shared.png", dir.file("link.png").c_str()), 0);
    ASSERT_EQ(scrub({"link.png", "link.png"}).status, 0);

    struct stat info;
    ASSERT_EQ(::lstat(dir.file("link.png").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    ASSERT_EQ(::stat(dir.file("shared.png").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0604u);
    EXPECT_EQ(decodeFile(dir.file("shared.png")).rgba, scrubbed);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"link.png", "shared.png"}));
}

} // namespace
