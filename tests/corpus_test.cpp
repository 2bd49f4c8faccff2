// Every real file of the corpus, and a few made from them with chunks that
// real files carry, through both operations: what the codec decodes and what
// is written must match what libpng makes of the same files.
#include <algorithm>
#include <cstring>
#include <dirent.h>

#include <gtest/gtest.h>

#include "apply_stencil.h"
#include "helpers.h"
#include "image.h"
#include "scrub_hidden_colour.h"

namespace {

// Each threshold of the stencil rule, with a transparent margin that makes
// the crop move rows onto ones they overlap. Red equals green in the dark
// samples, so only blue tells them from grey.
const unsigned char samples[][4] = {{10, 10, 29, 128}, {30, 0, 0, 255}, {255, 255, 255, 1},
                                    {0, 0, 20, 255},   {90, 90, 90, 200}, {0, 30, 0, 7},
                                    {200, 10, 10, 0}};

Bytes stencilPattern(unsigned width, unsigned height)
{
    Bytes s;
    for (unsigned y = 0; y < height; ++y)
        for (unsigned x = 0; x < width; ++x) {
            const unsigned char* p = x < 2 || y < 3 || y + 1 == height ? samples[6] : samples[(x * 7 + y * 3) % 6];
            s.insert(s.end(), p, p + 4);
        }
    return s;
}

// The stencil rule and the crop, worked out one pixel at a time.
Reference fitted(const Bytes& colour, const Bytes& stencil, unsigned width, unsigned height)
{
    unsigned x0 = width, y0 = height, x1 = 0, y1 = 0;
    for (unsigned i = 0; i < width * height; ++i)
        if (stencil[i * 4 + 3] != 0)
            x0 = std::min(x0, i % width), x1 = std::max(x1, i % width), y0 = std::min(y0, i / width),
            y1 = std::max(y1, i / width);
    Reference r;
    for (unsigned y = y0; y <= y1; ++y)
        for (unsigned x = x0; x <= x1; ++x) {
            const unsigned char* s = &stencil[(y * width + x) * 4];
            const bool dark = s[0] < 30 && s[1] < 30 && s[2] < 30;
            for (unsigned k = 0; k < 4; ++k)
                r.rgba.push_back(s[3] == 0 ? 0 : dark || k == 3 ? s[k] : colour[(y * width + x) * 4 + k]);
        }
    r.width = x0 <= x1 ? x1 - x0 + 1 : 0;
    r.height = y0 <= y1 ? y1 - y0 + 1 : 0;
    return r;
}

// A profile long enough and varied enough that libpng, which skips short
// ones, reads it back.
std::string iccProfile(const char* space)
{
    std::string p(200, '\0');
    for (size_t i = 132; i < p.size(); ++i)
        p[i] = char(i * 7919 % 251);
    p.replace(0, 4, bigEndian(200)).replace(12, 8, std::string("mntr") + space).replace(20, 4, "XYZ ");
    p.replace(36, 4, "acsp").replace(68, 12, bigEndian(0xf6d6) + bigEndian(0x10000) + bigEndian(0xd32d));
    Bytes packed(512);
    uLongf size = packed.size();
    compress(packed.data(), &size, reinterpret_cast<const Bytef*>(p.data()), p.size());
    return std::string("icc\0\0", 5) + std::string(packed.begin(), packed.begin() + size);
}

struct Case {
    std::string file;
    std::string chunks; // spliced in after the header
    bool greyProfile = false;
};

// Decodes the written file and checks it against the pixels expected and the
// chunks of the file it was made from.
void expectWritten(Image& image, const std::string& path, const Reference& expected, const Reference& from,
                   bool keepsProfile)
{
    ASSERT_TRUE(image.save(path.c_str())) << image.failure.reason();
    const Reference out = readReference(path);
    EXPECT_EQ(out.width, expected.width);
    EXPECT_EQ(out.height, expected.height);
    EXPECT_TRUE(out.rgba == expected.rgba);
    EXPECT_LE(out.depth, 8u);
    EXPECT_FALSE(out.sbit);
    EXPECT_EQ(out.icc, from.icc && keepsProfile);
    EXPECT_EQ(out.interlace, from.interlace);
    EXPECT_EQ(out.texts, from.texts);
    EXPECT_EQ(out.bkgd, from.bkgd);
    EXPECT_EQ(0, std::memcmp(out.background, from.background, 3));
}

} // namespace

TEST(Corpus, EveryFileThroughBothOperations)
{
    const std::string dir = scratchDirectory(), corpus = CORPUS_DIR;
    std::vector<Case> cases = {
        {"basn2c08.png", chunk("sBIT", "\5\6\5")},
        {"basn0g08.png", chunk("sBIT", "\5")},
        {"basn2c08.png", chunk("sBIT", "\5\5\5") + chunk("tRNS", std::string("\0\xff\0\xff\0\xff", 6))},
        {"basn2c16.png", chunk("bKGD", "\x12\x34\x56\x78\x9a\xbc")},
        {"basn0g08.png", chunk("iCCP", iccProfile("GRAY")), true},
        {"basn2c08.png", chunk("iCCP", iccProfile("RGB "))},
        {"ibasn2c08.png", chunk("tEXt", std::string("Title\0sprite", 12))},
    };
    DIR* listing = opendir(corpus.c_str());
    while (const dirent* entry = readdir(listing))
        if (std::strstr(entry->d_name, ".png"))
            cases.push_back({entry->d_name, ""});
    closedir(listing);
    ASSERT_GT(cases.size(), 50u);

    Image colour;
    colour.load((corpus + "/basn6a08.png").c_str());
    const Reference plain = readReference(corpus + "/basn6a08.png");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file + (c.chunks.empty() ? "" : " with " + c.chunks.substr(4, 4)));
        std::string in = corpus + "/" + c.file;
        if (!c.chunks.empty()) {
            Bytes bytes = readBytes(in);
            bytes.insert(bytes.begin() + 33, c.chunks.begin(), c.chunks.end());
            writeBytes(in = dir + "/in.png", bytes);
        }
        const Reference file = readReference(in);
        Image image;
        image.load(in.c_str());
        ASSERT_TRUE(image.loaded) << image.failure.reason();
        ASSERT_TRUE(image.pixels == file.rgba);

        Image stencil;
        stencil.width = file.width, stencil.height = file.height;
        stencil.pixels = stencilPattern(file.width, file.height);
        EXPECT_EQ(applyStencil(image, stencil), StencilOutcome::applied);
        expectWritten(image, dir + "/colour.png", fitted(file.rgba, stencil.pixels, file.width, file.height),
                      file, !c.greyProfile);

        // The file as stencil: nothing of it but its pixels reaches the output.
        image.load(in.c_str());
        colour.load((corpus + "/basn6a08.png").c_str());
        const Reference expected = fitted(plain.rgba, file.rgba, file.width, file.height);
        EXPECT_EQ(applyStencil(colour, image),
                  expected.width ? StencilOutcome::applied : StencilOutcome::nothingVisible);
        if (expected.width)
            expectWritten(colour, dir + "/stencil.png", expected, plain, true);

        Reference scrubbed = file;
        for (size_t o = 0; o < scrubbed.rgba.size(); o += 4)
            if (scrubbed.rgba[o + 3] == 0)
                std::fill_n(&scrubbed.rgba[o], 3, 0);
        EXPECT_EQ(scrubHiddenColour(image), scrubbed.rgba != file.rgba);
        expectWritten(image, dir + "/scrubbed.png", scrubbed, file, true);
    }
}
