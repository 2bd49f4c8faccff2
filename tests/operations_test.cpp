// Both operations on every real file of the corpus, and on a few made from
// them with the chunks that real files carry, with libpng as the second
// decoder of what goes in and what comes out; then the stencil rule at its
// thresholds.
#include <cstring>
#include <filesystem>
#include <random>
#include <set>

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include "apply_stencil.h"
#include "file.h"
#include "hidden_colour_possible.h"
#include "quote.h"
#include "scrub_hidden_colour.h"

namespace {
using Bytes = std::vector<unsigned char>;
const std::string corpus = CORPUS_DIR "/";

// A file as libpng sees it: 8-bit RGBA, 16-bit samples cut to their high byte,
// no gamma or colour correction; and what of its chunks a rewrite must keep or
// drop, with the background colour as 8-bit RGB whatever the layout.
struct Reference {
    unsigned width = 0, height = 0, depth = 0, interlace = 0, texts = 0, sbit = 0, icc = 0, bkgd = 0;
    png_color background = {0, 0, 0};
    Bytes rgba;
};

Reference decodeWithLibpng(const std::string& path)
{
    Reference r;
    FILE* file = std::fopen(path.c_str(), "rb");
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, [](png_structp, png_const_charp) {});
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_read_info(png, info);
    r.depth = png_get_bit_depth(png, info), r.interlace = png_get_interlace_type(png, info);
    r.sbit = png_get_valid(png, info, PNG_INFO_sBIT) != 0, r.icc = png_get_valid(png, info, PNG_INFO_iCCP) != 0;
    png_color_16p b;
    png_colorp palette;
    int entries, shift = r.depth == 16 ? 8 : 0, scale = r.depth < 8 ? 255 / ((1 << r.depth) - 1) : 1;
    if ((r.bkgd = png_get_bKGD(png, info, &b)))
        r.background = png_get_PLTE(png, info, &palette, &entries) ? palette[b->index]
                       : png_get_channels(png, info) > 2
                           ? png_color{png_byte(b->red >> shift), png_byte(b->green >> shift), png_byte(b->blue >> shift)}
                           : png_color{png_byte(b->gray * scale >> shift), png_byte(b->gray * scale >> shift),
                                       png_byte(b->gray * scale >> shift)};
    png_set_expand(png), png_set_strip_16(png), png_set_gray_to_rgb(png), png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    r.width = png_get_image_width(png, info), r.height = png_get_image_height(png, info);
    r.rgba.resize(size_t(r.width) * r.height * 4);
    for (int pass = 0; pass < passes; ++pass)
        for (size_t y = 0; y < r.height; ++y)
            png_read_row(png, &r.rgba[y * r.width * 4], nullptr);
    png_read_end(png, info);
    r.texts = png_get_text(png, info, nullptr, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return r;
}

std::string bigEndian(unsigned long value) { return {char(value >> 24), char(value >> 16), char(value >> 8), char(value)}; }

std::string chunk(const std::string& type, const std::string& data)
{
    return bigEndian(data.size()) + type + data + bigEndian(crc32(crc32(0, (const Bytef*)type.data(), 4), (const Bytef*)data.data(), data.size()));
}

// Long and varied enough for libpng, which skips short profiles, to read.
std::string iccChunk(const char* space)
{
    std::string p(200, '\0'), packed(512, '\0');
    for (size_t i = 132; i < p.size(); ++i)
        p[i] = char(i * 7919 % 251);
    p.replace(0, 4, bigEndian(200)).replace(12, 8, std::string("mntr") + space).replace(20, 4, "XYZ ").replace(36, 4, "acsp");
    uLongf size = packed.size();
    compress((Bytef*)&packed[0], &size, (const Bytef*)p.data(), p.size());
    return chunk("iCCP", std::string("icc\0\0", 5) + packed.substr(0, size));
}

// The stencil rule and the crop, one pixel at a time.
Reference fitted(const Bytes& colour, const Bytes& stencil, unsigned width, unsigned height)
{
    Reference r;
    unsigned x0 = width, y0 = height, x1 = 0, y1 = 0;
    for (unsigned i = 0; i < width * height; ++i)
        if (stencil[i * 4 + 3] != 0)
            x0 = std::min(x0, i % width), x1 = std::max(x1, i % width), y0 = std::min(y0, i / width), y1 = i / width;
    for (unsigned y = y0; y <= y1; ++y)
        for (unsigned i = (y * width + x0) * 4; i < (y * width + x1 + 1) * 4; ++i) {
            const unsigned char* s = &stencil[i / 4 * 4];
            r.rgba.push_back(s[3] == 0 ? 0 : (s[0] < 30 && s[1] < 30 && s[2] < 30) || i % 4 == 3 ? s[i % 4] : colour[i]);
        }
    r.width = x1 - x0 + 1, r.height = y1 - y0 + 1;
    return r;
}

// Saves, decodes the file with libpng, and checks it against the pixels
// expected and the chunks of the file the pixels came from.
void expectWritten(Image& image, const Reference& expected, const Reference& from, bool keepsProfile)
{
    ASSERT_TRUE(image.save((::testing::TempDir() + "written.png").c_str())) << image.failure.reason();
    const Reference out = decodeWithLibpng(::testing::TempDir() + "written.png");
    EXPECT_TRUE(out.width == expected.width && out.height == expected.height && out.rgba == expected.rgba);
    EXPECT_TRUE(out.depth <= 8 && !out.sbit && out.icc == (from.icc && keepsProfile));
    EXPECT_TRUE(out.interlace == from.interlace && out.texts == from.texts && out.bkgd == from.bkgd);
    EXPECT_EQ(0, std::memcmp(&out.background, &from.background, 3));
}
} // namespace

TEST(Operations, EveryCorpusFileAsColourAsStencilAndScrubbed)
{
    // Each file is the colour image under the next as stencil. Chunks that
    // real files carry are put into copies of a few; the grey profile is
    // followed by a stencil whose dark pixels have colour.
    std::vector<std::pair<std::string, std::string>> cases = {
        {"basn0g08.png", iccChunk("GRAY")}, {"basn3p08.png", iccChunk("RGB ")}, {"basn0g08.png", chunk("sBIT", "\5")},
        {"basn2c08.png", chunk("sBIT", "\5\6\5")}, {"basn2c16.png", chunk("bKGD", "\x12\x34\x56\x78\x9a\xbc")},
        {"basn2c08.png", chunk("sBIT", "\5\5\5") + chunk("tRNS", std::string("\0\xff\0\xff\0\xff", 6))},
        {"ibasn2c08.png", chunk("tEXt", std::string("Title\0sprite", 12))}};
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(corpus))
        if (entry.path().extension() == ".png")
            found.insert(entry.path().filename().string());
    for (const std::string& name : found)
        cases.push_back({name, ""});
    ASSERT_EQ(cases.size(), 58u);

    std::vector<std::string> paths;
    for (const auto& [name, chunks] : cases) {
        Bytes bytes;
        lodepng::load_file(bytes, corpus + name);
        bytes.insert(bytes.begin() + 33, chunks.begin(), chunks.end());
        lodepng::save_file(bytes, paths.emplace_back(::testing::TempDir() + std::to_string(paths.size()) + ".png"));
    }
    for (size_t i = 0; i < paths.size(); ++i) {
        SCOPED_TRACE(cases[i].first + (cases[i].second.empty() ? "" : " with " + cases[i].second.substr(4, 4)));
        const Reference file = decodeWithLibpng(paths[i]);
        Image image, stencil;
        Box crop;
        image.load(paths[i].c_str());
        stencil.load(paths[(i + 1) % paths.size()].c_str());
        ASSERT_TRUE(image.pixels == file.rgba) << image.failure.reason();
        EXPECT_EQ(applyStencil(image, stencil, crop), StencilOutcome::applied);
        expectWritten(image, fitted(file.rgba, stencil.pixels, file.width, file.height), file, i != 0);

        Reference scrubbed = file;
        for (size_t o = 0; o < scrubbed.rgba.size(); o += 4)
            std::fill_n(&scrubbed.rgba[o], scrubbed.rgba[o + 3] == 0 ? 3 : 0, 0);
        image.load(paths[i].c_str());
        EXPECT_EQ(scrubHiddenColour(image), scrubbed.rgba != file.rgba);
        expectWritten(image, scrubbed, file, true);
    }
}

TEST(Operations, StencilThresholds)
{
    // Each stencil pixel between two visible ones in a single row, so nothing
    // is cropped: the stencil pixel, the colour pixel and the result.
    const Bytes rows[][3] = {{{0, 0, 0, 0}, {9, 9, 9, 9}, {0, 0, 0, 0}}, {{200, 10, 10, 0}, {9, 9, 9, 9}, {0, 0, 0, 0}},
                             {{10, 20, 29, 128}, {9, 9, 9, 9}, {10, 20, 29, 128}}, {{0, 0, 30, 9}, {1, 2, 3, 0}, {1, 2, 3, 9}},
                             {{30, 0, 0, 255}, {1, 2, 3, 4}, {1, 2, 3, 255}}, {{0, 30, 0, 1}, {1, 2, 3, 0}, {1, 2, 3, 1}}};
    for (const auto& [s, c, result] : rows) {
        Image colour, stencil;
        Box crop;
        colour.width = stencil.width = 3, colour.height = stencil.height = 1;
        stencil.pixels = {1, 1, 1, 1, s[0], s[1], s[2], s[3], 1, 1, 1, 1};
        colour.pixels = {5, 5, 5, 5, c[0], c[1], c[2], c[3], 5, 5, 5, 5};
        ASSERT_TRUE(applyStencil(colour, stencil, crop) == StencilOutcome::applied && colour.pixelBytes() == 12);
        EXPECT_EQ(Bytes(&colour.pixels[4], &colour.pixels[8]), result);
    }
}

TEST(Operations, NamesQuotedOnlyWhenTheyWouldReadBackWrong)
{
    // The bytes at either end of each range escaped, and letters beyond ASCII, which never are.
    const std::pair<std::string, std::string> rows[] = {
        {"", ""}, {" ~/é\x80\xff.png", " ~/é\x80\xff.png"}, {"\a\b\t\n\v\f\r", R"("\a\b\t\n\v\f\r")"}, {"a\"b\\", R"("a\"b\\")"},
        {std::string("\0\x01\x06\x0e\x1b\x1f\x7f", 7), R"("\000\001\006\016\033\037\177")"}};
    for (const auto& [name, quoted] : rows)
        EXPECT_EQ(quotedName(name), quoted);
}

TEST(Operations, ChunksCallAFileCleanOnlyWhenItsPixelsAre)
{
    // Small images of few sample values in every layout, with keys and
    // palettes that often match them and are often black, some damaged.
    const std::pair<LodePNGColorType, unsigned> layouts[] = {
        {LCT_GREY, 1}, {LCT_GREY, 2}, {LCT_GREY, 4}, {LCT_GREY, 8}, {LCT_GREY, 16}, {LCT_RGB, 8}, {LCT_RGB, 16},
        {LCT_PALETTE, 1}, {LCT_PALETTE, 2}, {LCT_PALETTE, 4}, {LCT_PALETTE, 8}, {LCT_RGBA, 8}, {LCT_RGBA, 16},
        {LCT_GREY_ALPHA, 8}, {LCT_GREY_ALPHA, 16}};
    const unsigned char values[] = {0, 0, 1, 0x12, 0xff};
    std::minstd_rand random(1);
    unsigned proved[15][2] = {}, hiding = 0;
    for (int round = 0; round < 3000; ++round) {
        const size_t layout = random() % 15;
        const auto [type, depth] = layouts[layout];
        lodepng::State state;
        state.encoder.auto_convert = 0;
        LodePNGColorMode& mode = state.info_png.color;
        mode.colortype = type, mode.bitdepth = depth, mode.key_defined = (type == LCT_GREY || type == LCT_RGB) && random() % 2;
        mode.key_r = values[random() % 5] << (depth == 16 && random() % 2 ? 8 : 0);
        mode.key_g = mode.key_b = type == LCT_GREY ? mode.key_r : values[random() % 5];
        for (unsigned i = 0; type == LCT_PALETTE && i < 1u << depth; ++i)
            lodepng_palette_add(&mode, values[random() % 5], values[random() % 5], values[random() % 5], values[random() % 5]);
        lodepng_color_mode_copy(&state.info_raw, &mode);
        Bytes raw(3 * 3 * 8), png;
        std::generate(raw.begin(), raw.end(), [&] { return depth < 8 ? random() : values[random() % 5]; });
        ASSERT_EQ(lodepng::encode(png, raw, 3, 3, state), 0u);
        if (random() % 4 == 0)
            png[random() % png.size()] ^= 1 << random() % 8;
        const bool may = mayHoldHiddenColour(png);
        Image image;
        image.decode(png);
        const bool hides = image.loaded && scrubHiddenColour(image);
        EXPECT_TRUE(may || (image.loaded && !hides)) << round;
        proved[layout][mode.key_defined] += !may, hiding += hides;
    }
    // Grey and RGB, keyed or not, and small palettes are proved clean at times.
    for (size_t layout = 0; layout < 9; ++layout)
        EXPECT_TRUE(proved[layout][0] > 0 && (layout >= 7 || proved[layout][1] > 0)) << layout;
    EXPECT_GT(hiding, 500u);
}

TEST(Operations, RefusesWhatWouldLoseData)
{
    // Only the first frame of an animated image would be written back.
    Bytes png, bytes;
    lodepng::load_file(png, corpus + "basn2c08.png");
    const std::string animation = chunk("acTL", std::string(8, '\0'));
    png.insert(png.begin() + 33, animation.begin(), animation.end());
    Image image;
    image.decode(png);
    EXPECT_EQ(image.failure.reason(), "animated PNG is not supported");
    EXPECT_TRUE(mayHoldHiddenColour(png));
}
