#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <csignal>
#include <unistd.h>

#include "file.h"
#include "fixtures.h"
#include "image.h"

namespace {

// Expected RGBA of a 3 x 2 test picture in every colour type below.
struct Case {
    const char* name;
    PngLayout layout;
    Bytes raw;
    Bytes rgba;
};

std::vector<Case> colourTypeCases()
{
    std::vector<Case> cases;
    {
        PngLayout layout;
        layout.colourType = LCT_PALETTE;
        layout.palette = {{255, 0, 0, 255}, {0, 0, 255, 128}, {9, 9, 9, 0}};
        cases.push_back({"palette", layout, {0, 1, 2, 2, 1, 0},
                         {255, 0, 0, 255, 0, 0, 255, 128, 9, 9, 9, 0,
                          9, 9, 9, 0, 0, 0, 255, 128, 255, 0, 0, 255}});
    }
    {
        PngLayout layout;
        layout.colourType = LCT_GREY;
        cases.push_back({"grey", layout, {0, 50, 255, 7, 8, 9},
                         {0, 0, 0, 255, 50, 50, 50, 255, 255, 255, 255, 255,
                          7, 7, 7, 255, 8, 8, 8, 255, 9, 9, 9, 255}});
    }
    {
        PngLayout layout;
        layout.colourType = LCT_GREY_ALPHA;
        cases.push_back({"grey-alpha", layout, {10, 0, 20, 1, 30, 255, 40, 0, 50, 99, 60, 200},
                         {10, 10, 10, 0, 20, 20, 20, 1, 30, 30, 30, 255,
                          40, 40, 40, 0, 50, 50, 50, 99, 60, 60, 60, 200}});
    }
    {
        PngLayout layout;
        layout.colourType = LCT_RGB;
        cases.push_back({"opaque RGB", layout,
                         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18},
                         {1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255,
                          10, 11, 12, 255, 13, 14, 15, 255, 16, 17, 18, 255}});
    }
    {
        // Keyed pixels decode transparent but keep the key colour.
        PngLayout layout;
        layout.colourType = LCT_RGB;
        layout.colourKey = true;
        layout.keyR = 200;
        layout.keyG = 100;
        layout.keyB = 50;
        cases.push_back({"RGB with colour key", layout,
                         {200, 100, 50, 1, 2, 3, 200, 100, 50, 200, 100, 51, 0, 0, 0, 200, 100, 50},
                         {200, 100, 50, 0, 1, 2, 3, 255, 200, 100, 50, 0,
                          200, 100, 51, 255, 0, 0, 0, 255, 200, 100, 50, 0}});
    }
    {
        // 16-bit samples keep their high byte.
        PngLayout layout;
        layout.colourType = LCT_RGBA;
        layout.bitDepth = 16;
        Bytes raw;
        Bytes rgba;
        for (unsigned i = 0; i < 6; ++i) {
            unsigned char sample[4] = {static_cast<unsigned char>(i * 40), 7, 255, static_cast<unsigned char>(i * 50)};
            for (unsigned char s : sample) {
                raw.push_back(s);
                raw.push_back(0x5a);
                rgba.push_back(s);
            }
        }
        cases.push_back({"16-bit RGBA", layout, raw, rgba});
    }
    return cases;
}

TEST(ImageLoad, EveryColourTypeDecodesToRgba)
{
    TempDir dir;
    for (const Case& c : colourTypeCases()) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("in.png");
        writeBytes(path, encodeRaw(c.raw, 3, 2, c.layout));
        Image image;
        image.load(path.c_str());
        ASSERT_TRUE(image.loaded) << image.failure.reason();
        EXPECT_EQ(image.width, 3u);
        EXPECT_EQ(image.height, 2u);
        EXPECT_EQ(image.pixels, c.rgba);
    }
}

TEST(ImageLoad, FailureLeavesAnEmptyImageAndSaysWhy)
{
    TempDir dir;
    Bytes good = encodeRgba(makeRgba(4, 4, [](unsigned x, unsigned y) {
        return Rgba{static_cast<unsigned char>(x * 60), static_cast<unsigned char>(y * 60), 9, 255};
    }), 4, 4);
    Bytes badCrc = good;
    badCrc[29] ^= 0x01; // last byte of the header chunk's CRC
    // The file holds the signature, the header chunk, one data chunk and the
    // end chunk. The data's Adler-32 ends just before the data chunk's CRC,
    // which is made right again so that only the checksum is wrong.
    Bytes badAdler = good;
    badAdler[good.size() - 12 - 4 - 1] ^= 0x01;
    lodepng_chunk_generate_crc(&badAdler[8 + 25]);
    Bytes truncated(good.begin(), good.begin() + good.size() / 2);

    const std::string text = "This is a text file, not a picture at all.\n";
    writeBytes(dir.file("text.png"), Bytes(text.begin(), text.end()));
    writeBytes(dir.file("empty.png"), Bytes());
    writeBytes(dir.file("crc.png"), badCrc);
    writeBytes(dir.file("adler.png"), badAdler);
    writeBytes(dir.file("truncated.png"), truncated);
    ::mkdir(dir.file("dir.png").c_str(), 0755);

    struct Expectation {
        const char* name;
        std::string reason;
    };
    const Expectation expectations[] = {
        {"text.png", lodepng_error_text(28)},
        {"empty.png", "empty file"},
        {"crc.png", lodepng_error_text(57)},
        {"adler.png", lodepng_error_text(58)},
        {"truncated.png", ""},
        {"dir.png", std::strerror(EISDIR)},
        {"missing.png", std::strerror(ENOENT)},
    };
    Image image;
    for (const Expectation& e : expectations) {
        SCOPED_TRACE(e.name);
        // A good load first, so a failure has something to clear.
        writeBytes(dir.file("good.png"), good);
        image.load(dir.file("good.png").c_str());
        ASSERT_TRUE(image.loaded);

        image.load(dir.file(e.name).c_str());
        EXPECT_FALSE(image.loaded);
        EXPECT_EQ(image.width, 0u);
        EXPECT_EQ(image.height, 0u);
        EXPECT_TRUE(image.pixels.empty());
        EXPECT_TRUE(image.failure.failed());
        if (!e.reason.empty()) {
            EXPECT_EQ(image.failure.reason(), e.reason);
        }
    }
}

TEST(ImageLoad, ReusedImageHoldsOnlyTheLastFile)
{
    TempDir dir;
    PngLayout withText;
    withText.texts = {{"Comment", "first"}};
    withText.interlaced = true;
    Bytes big = makeRgba(8, 8, [](unsigned, unsigned) { return Rgba{1, 2, 3, 4}; });
    Bytes small = makeRgba(2, 3, [](unsigned x, unsigned y) {
        return Rgba{static_cast<unsigned char>(x), static_cast<unsigned char>(y), 5, 6};
    });
    writeBytes(dir.file("big.png"), encodeRaw(big, 8, 8, withText));
    writeBytes(dir.file("small.png"), encodeRgba(small, 2, 3));

    Image image;
    image.load(dir.file("big.png").c_str());
    ASSERT_TRUE(image.loaded);
    image.load(dir.file("small.png").c_str());
    ASSERT_TRUE(image.loaded);
    EXPECT_EQ(image.width, 2u);
    EXPECT_EQ(image.height, 3u);
    EXPECT_EQ(image.pixels, small);
    // The first file's buffer is kept for reuse.
    EXPECT_GE(image.pixels.capacity(), big.size());

    // Nothing of the first file's ancillary data reaches the second's output.
    ASSERT_TRUE(image.save(dir.file("out.png").c_str()));
    Decoded out = decodeFile(dir.file("out.png"));
    ASSERT_EQ(out.error, 0u);
    EXPECT_TRUE(textsOf(out).empty());
    EXPECT_EQ(out.state.info_png.interlace_method, 0u);
    EXPECT_EQ(out.rgba, small);
}

TEST(ImageSave, RoundTripKeepsPixelsAndAncillaryData)
{
    TempDir dir;
    PngLayout layout;
    layout.colourType = LCT_RGBA;
    layout.bitDepth = 16;
    layout.interlaced = true;
    layout.texts = {{"Title", "sprite"}, {"Author", "someone"}};
    Bytes raw;
    Bytes expected;
    for (unsigned i = 0; i < 5 * 7 * 4; ++i) {
        raw.push_back(static_cast<unsigned char>(i * 7));
        raw.push_back(0xff);
        expected.push_back(static_cast<unsigned char>(i * 7));
    }
    writeBytes(dir.file("in.png"), encodeRaw(raw, 5, 7, layout));

    Image image;
    image.load(dir.file("in.png").c_str());
    ASSERT_TRUE(image.loaded);
    ASSERT_TRUE(image.save(dir.file("out.png").c_str())) << image.failure.reason();

    Decoded out = decodeFile(dir.file("out.png"));
    ASSERT_EQ(out.error, 0u);
    EXPECT_EQ(out.rgba, expected);
    EXPECT_EQ(out.state.info_png.interlace_method, 1u);
    EXPECT_LE(out.state.info_png.color.bitdepth, 8u);
    EXPECT_EQ(textsOf(out), layout.texts);
}

TEST(ImageSave, WritesOnlyTheFirstWidthTimesHeightPixels)
{
    TempDir dir;
    Image image;
    image.width = 2;
    image.height = 1;
    image.pixels = {1, 2, 3, 4, 5, 6, 7, 8, 99, 99, 99, 99};
    ASSERT_TRUE(image.save(dir.file("out.png").c_str()));
    Decoded out = decodeFile(dir.file("out.png"));
    ASSERT_EQ(out.error, 0u);
    EXPECT_EQ(out.width, 2u);
    EXPECT_EQ(out.height, 1u);
    EXPECT_EQ(out.rgba, (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(ImageSave, TooFewPixelBytesWriteNothing)
{
    TempDir dir;
    const std::string path = dir.file("existing.png");
    writeBytes(path, Bytes{'o', 'l', 'd'});
    Image image;
    image.width = 4;
    image.height = 4;
    image.pixels.assign(4 * 4 * 4 - 1, 0);
    EXPECT_FALSE(image.save(path.c_str()));
    EXPECT_EQ(image.failure.codecError, 84u);
    EXPECT_EQ(readBytes(path), (Bytes{'o', 'l', 'd'}));
    EXPECT_FALSE(image.save(dir.file("new.png").c_str()));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"existing.png"});
}

// replaceFile is what keeps a failed or interrupted write from costing the
// user a file, so its promises are checked one by one.

TEST(ReplaceFile, KeepsModeOfReplacedFileAndUsesUmaskForNewOnes)
{
    TempDir dir;
    const std::string existing = dir.file("existing");
    writeBytes(existing, Bytes{1});
    ::chmod(existing.c_str(), 0640);
    ASSERT_EQ(replaceFile(existing.c_str(), Bytes{2, 3}), 0);
    EXPECT_EQ(readBytes(existing), (Bytes{2, 3}));
    struct stat info;
    ASSERT_EQ(::stat(existing.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    mode_t old = ::umask(027);
    int error = replaceFile(dir.file("new").c_str(), Bytes{4});
    ::umask(old);
    ASSERT_EQ(error, 0);
    ASSERT_EQ(::stat(dir.file("new").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"existing", "new"}));
}

TEST(ReplaceFile, WritesThroughASymbolicLink)
{
    TempDir dir;
    ::mkdir(dir.file("real").c_str(), 0755);
    writeBytes(dir.file("real/target"), Bytes{1});
    ASSERT_EQ(::symlink("real/target", dir.file("link").c_str()), 0);
    ASSERT_EQ(replaceFile(dir.file("link").c_str(), Bytes{7, 7}), 0);
    struct stat info;
    ASSERT_EQ(::lstat(dir.file("link").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(readBytes(dir.file("real/target")), (Bytes{7, 7}));
}

TEST(ReplaceFile, FailuresLeaveTheTargetAndNoTemporaryFile)
{
    TempDir dir;
    const std::string target = dir.file("target");
    writeBytes(target, Bytes{1, 2, 3});

    EXPECT_EQ(replaceFile(dir.file("missing/target").c_str(), Bytes{1}), ENOENT);
    ::mkdir(dir.file("sub").c_str(), 0755);
    EXPECT_EQ(replaceFile(dir.file("sub").c_str(), Bytes{1}), EISDIR);

    // A write cut short by the file-size limit, as a full disk would.
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &previous);
    struct rlimit oldLimit;
    ::getrlimit(RLIMIT_FSIZE, &oldLimit);
    struct rlimit limit = oldLimit;
    limit.rlim_cur = 1000;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    int error = replaceFile(target.c_str(), Bytes(5000, 9));
    ::setrlimit(RLIMIT_FSIZE, &oldLimit);
    ::sigaction(SIGXFSZ, &previous, nullptr);
    EXPECT_EQ(error, EFBIG);

    EXPECT_EQ(readBytes(target), (Bytes{1, 2, 3}));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"sub", "target"}));
}

TEST(ReplaceFile, RefusesReadOnlyFiles)
{
    if (runningAsRoot())
        GTEST_SKIP() << "permissions do not bind root";
    TempDir dir;
    const std::string readOnly = dir.file("read-only");
    writeBytes(readOnly, Bytes{1});
    ::chmod(readOnly.c_str(), 0444);
    EXPECT_EQ(replaceFile(readOnly.c_str(), Bytes{2}), EACCES);
    EXPECT_EQ(readBytes(readOnly), Bytes{1});
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"read-only"});
}

} // namespace
