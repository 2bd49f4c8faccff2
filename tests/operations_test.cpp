// Both operations on every real file of the corpus, and on a few made from
// them with the chunks that real files carry, with libpng as the second
// decoder of what goes in and what comes out; then the stencil rule at its
// thresholds.
#include <array>
#include <cstring>
#include <filesystem>
#include <set>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif
#include <zlib.h>

#include "apply_stencil.h"
#include "file.h"
#include "hidden_colour_possible.h"
#include "machine.h"
#include "quote.h"
#include "scrub_file.h"
#include "scrub_hidden_colour.h"

namespace {
using Bytes = std::vector<unsigned char>;
const std::string corpus = CORPUS_DIR "/";

// A file as libpng sees it: 8-bit RGBA, 16-bit samples cut to their high byte,
// no gamma or colour correction; and what of its chunks a rewrite must keep or
// drop, with the background colour as 8-bit RGB whatever the layout.
struct Reference {
    unsigned width = 0, height = 0, depth = 0, interlace = 0, texts = 0, sbit = 0, icc = 0,
             bkgd = 0, alpha = 0, trns = 0;
    std::array<png_byte, 3> background = {};
    Bytes rgba;
};

// The bytes libpng reads, and how many it has read.
using Input = std::pair<const Bytes&, size_t>;

// Decodes bytes with libpng; false, with libpng's reason in error, when it
// refuses them.
bool decodeWithLibpng(const Bytes& bytes, Reference& r, std::string& error)
{
    png_structp png = png_create_read_struct(
        PNG_LIBPNG_VER_STRING, &error,
        [](png_structp p, png_const_charp message) {
            *static_cast<std::string*>(png_get_error_ptr(p)) = message;
            png_longjmp(p, 1);
        },
        [](png_structp, png_const_charp) {});
    png_infop info = png_create_info_struct(png);
    Input input{bytes, 0};
    // Nothing from here to the jump back has a destructor to skip.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &input, [](png_structp p, png_bytep data, png_size_t size) {
        Input& in = *static_cast<Input*>(png_get_io_ptr(p));
        if (size > in.first.size() - in.second)
            png_error(p, "file ends early");
        std::memcpy(data, in.first.data() + in.second, size);
        in.second += size;
    });
    png_read_info(png, info);
    r.depth = png_get_bit_depth(png, info), r.interlace = png_get_interlace_type(png, info);
    r.sbit = png_get_valid(png, info, PNG_INFO_sBIT) != 0;
    r.icc = png_get_valid(png, info, PNG_INFO_iCCP) != 0;
    r.alpha = (png_get_color_type(png, info) & PNG_COLOR_MASK_ALPHA) != 0;
    r.trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    png_color_16p b;
    png_colorp palette;
    int entries;
    const int shift = r.depth == 16 ? 8 : 0, scale = r.depth < 8 ? 255 / ((1 << r.depth) - 1) : 1;
    if ((r.bkgd = png_get_bKGD(png, info, &b)) && png_get_PLTE(png, info, &palette, &entries))
        r.background = {palette[b->index].red, palette[b->index].green, palette[b->index].blue};
    else if (r.bkgd && png_get_channels(png, info) < 3)
        r.background.fill(png_byte(b->gray * scale >> shift));
    else if (r.bkgd)
        r.background = {png_byte(b->red >> shift), png_byte(b->green >> shift),
                        png_byte(b->blue >> shift)};
    png_set_expand(png), png_set_strip_16(png), png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
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
    return true;
}

Bytes bytesOf(const std::string& path)
{
    Bytes bytes;
    lodepng::load_file(bytes, path);
    return bytes;
}

// "none", or the first pixel where two images of one width differ.
std::string firstDifference(const Bytes& got, const Bytes& expected, unsigned width)
{
    const size_t at =
        size_t(std::mismatch(got.begin(), got.end(), expected.begin(), expected.end()).first -
               got.begin()) /
        4;
    return got == expected ? "none"
                           : "(" + std::to_string(at % width) + ", " + std::to_string(at / width) +
                                 ") of " + std::to_string(got.size() / 4) + " pixels";
}

std::string bigEndian(unsigned long value)
{
    return {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
}

std::string chunk(const std::string& type, const std::string& data)
{
    return bigEndian(data.size()) + type + data +
           bigEndian(crc32(crc32(0, (const Bytef*)type.data(), 4), (const Bytef*)data.data(),
                           data.size()));
}

// Long and varied enough for libpng, which skips short profiles, to read.
std::string iccChunk(const char* space)
{
    std::string p(200, '\0'), packed(512, '\0');
    for (size_t i = 132; i < p.size(); ++i)
        p[i] = char(i * 7919 % 251);
    p.replace(0, 4, bigEndian(200))
        .replace(12, 8, std::string("mntr") + space)
        .replace(20, 4, "XYZ ")
        .replace(36, 4, "acsp");
    uLongf size = packed.size();
    compress((Bytef*)&packed[0], &size, (const Bytef*)p.data(), p.size());
    return chunk("iCCP", std::string("icc\0\0", 5) + packed.substr(0, size));
}

// The stencil rule and the crop, one pixel at a time, and where the crop lies.
Reference fitted(const Bytes& colour, const Bytes& stencil, unsigned width, unsigned height,
                 Box& box)
{
    Reference r;
    unsigned x0 = width, y0 = height, x1 = 0, y1 = 0;
    for (unsigned i = 0; i < width * height; ++i)
        if (stencil[i * 4 + 3] != 0)
            x0 = std::min(x0, i % width), x1 = std::max(x1, i % width),
            y0 = std::min(y0, i / width), y1 = i / width;
    for (unsigned y = y0; y <= y1; ++y)
        for (unsigned i = (y * width + x0) * 4; i < (y * width + x1 + 1) * 4; ++i) {
            const unsigned char* s = &stencil[i / 4 * 4];
            r.rgba.push_back(s[3] == 0                                             ? 0
                             : (s[0] < 30 && s[1] < 30 && s[2] < 30) || i % 4 == 3 ? s[i % 4]
                                                                                   : colour[i]);
        }
    r.width = x1 - x0 + 1, r.height = y1 - y0 + 1;
    box = {x0, y0, r.width, r.height};
    return r;
}

// Saves, decodes the file with libpng, and checks it against the pixels
// expected and the chunks of the file the pixels came from, field by field.
void expectWritten(Image& image, const Reference& expected, const Reference& from,
                   bool keepsProfile)
{
    std::string path = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    path = ::testing::TempDir() + path.replace(path.find('/'), 1, "-") + ".png";
    ASSERT_EQ(image.save(path).reason(), "no error");
    Reference out;
    std::string error;
    ASSERT_TRUE(decodeWithLibpng(bytesOf(path), out, error)) << "the file written: " << error;
    EXPECT_EQ(out.width, expected.width) << "width";
    EXPECT_EQ(out.height, expected.height) << "height";
    EXPECT_EQ(firstDifference(out.rgba, expected.rgba, out.width), "none") << "pixels";
    EXPECT_LE(out.depth, 8u) << "bit depth";
    EXPECT_FALSE(out.sbit) << "significant bits";
    EXPECT_EQ(out.icc, from.icc && keepsProfile) << "ICC profile";
    EXPECT_EQ(out.interlace, from.interlace) << "interlace method";
    EXPECT_EQ(out.texts, from.texts) << "text chunks";
    EXPECT_EQ(out.bkgd, from.bkgd) << "background colour";
    EXPECT_EQ(out.background, from.background) << "background colour's value";
}

// A corpus file, or a copy of one given chunks that real files carry.
struct Case {
    std::string name, file, chunks;
};

// Each file is the colour image under the next as stencil, so the grey
// profile is followed by a stencil whose dark pixels have colour.
std::vector<Case> corpusCases()
{
    std::vector<Case> cases = {
        {"basn0g08_grey_profile", "basn0g08.png", iccChunk("GRAY")},
        {"basn3p08_colour_profile", "basn3p08.png", iccChunk("RGB ")},
        {"basn0g08_sbit", "basn0g08.png", chunk("sBIT", "\5")},
        {"basn2c08_sbit", "basn2c08.png", chunk("sBIT", "\5\6\5")},
        {"basn2c16_wide_background", "basn2c16.png", chunk("bKGD", "\x12\x34\x56\x78\x9a\xbc")},
        {"basn2c08_sbit_key", "basn2c08.png",
         chunk("sBIT", "\5\5\5") + chunk("tRNS", std::string("\0\xff\0\xff\0\xff", 6))},
        {"ibasn2c08_text", "ibasn2c08.png", chunk("tEXt", std::string("Title\0sprite", 12))}};
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(corpus))
        if (entry.path().extension() == ".png")
            found.insert(entry.path().filename().string());
    for (const std::string& name : found)
        cases.push_back({name.substr(0, name.size() - 4), name, ""});
    return cases;
}

const std::vector<Case> cases = corpusCases();

Bytes bytesOf(const Case& c)
{
    Bytes bytes = bytesOf(corpus + c.file);
    bytes.insert(bytes.begin() + 33, c.chunks.begin(), c.chunks.end());
    return bytes;
}

// Each case as the colour image, or scrubbed.
class Corpus : public ::testing::TestWithParam<std::tuple<size_t, bool>> { };
} // namespace

TEST_P(Corpus, WrittenAsLibpngReadsIt)
{
    const auto [index, asColour] = GetParam();
    const Bytes bytes = bytesOf(cases[index]);
    Reference file;
    std::string error;
    ASSERT_TRUE(decodeWithLibpng(bytes, file, error)) << error;
    Image image;
    ASSERT_EQ(image.decode(bytes).reason(), "no error");
    ASSERT_EQ(firstDifference(image.pixels, file.rgba, file.width), "none") << "pixels decoded";
    if (asColour) {
        Image stencil;
        Reference stencilFile;
        Box crop, expected;
        const Bytes stencilBytes = bytesOf(cases[(index + 1) % cases.size()]);
        ASSERT_TRUE(decodeWithLibpng(stencilBytes, stencilFile, error)) << error;
        ASSERT_EQ(stencil.decode(stencilBytes).reason(), "no error");
        ASSERT_EQ(applyStencil(image, stencil, crop), StencilOutcome::applied);
        expectWritten(image, fitted(file.rgba, stencilFile.rgba, file.width, file.height, expected),
                      file, index != 0);
        EXPECT_EQ(crop.x, expected.x) << "crop's left column";
        EXPECT_EQ(crop.y, expected.y) << "crop's top row";
        EXPECT_EQ(crop.width, expected.width) << "crop's width";
        EXPECT_EQ(crop.height, expected.height) << "crop's height";
    } else {
        Reference scrubbed = file;
        for (size_t o = 0; o < scrubbed.rgba.size(); o += 4)
            std::fill_n(&scrubbed.rgba[o], scrubbed.rgba[o + 3] == 0 ? 3 : 0, 0);
        EXPECT_EQ(scrubHiddenColour(image), scrubbed.rgba != file.rgba)
            << "whether a pixel changed";
        const bool may = mayHoldHiddenColour(bytes);
        EXPECT_TRUE(may || scrubbed.rgba == file.rgba) << "judged clean unread, but hides colour";
        EXPECT_TRUE(!may || file.alpha || file.trns) << "judged unclean, though it can hide none";
        expectWritten(image, scrubbed, file, true);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, Corpus,
                         ::testing::Combine(::testing::Range<size_t>(0, cases.size()),
                                            ::testing::Bool()),
                         [](const auto& info) {
                             return cases[std::get<0>(info.param)].name +
                                    (std::get<1>(info.param) ? "_as_colour" : "_scrubbed");
                         });

TEST(Operations, StencilThresholds)
{
    // Each stencil pixel between two visible ones in a single row, so nothing
    // is cropped: the stencil pixel, the colour pixel and the result.
    const Bytes rows[][3] = {{{0, 0, 0, 0}, {9, 9, 9, 9}, {0, 0, 0, 0}},
                             {{200, 10, 10, 0}, {9, 9, 9, 9}, {0, 0, 0, 0}},
                             {{10, 20, 29, 128}, {9, 9, 9, 9}, {10, 20, 29, 128}},
                             {{0, 0, 30, 9}, {1, 2, 3, 0}, {1, 2, 3, 9}},
                             {{30, 0, 0, 255}, {1, 2, 3, 4}, {1, 2, 3, 255}},
                             {{0, 30, 0, 1}, {1, 2, 3, 0}, {1, 2, 3, 1}}};
    for (const auto& [s, c, result] : rows) {
        Image colour, stencil;
        Box crop;
        colour.width = stencil.width = 3, colour.height = stencil.height = 1;
        colour.pixels = {5, 5, 5, 5, c[0], c[1], c[2], c[3], 5, 5, 5, 5};
        stencil.pixels = {1, 1, 1, 1, s[0], s[1], s[2], s[3], 1, 1, 1, 1};
        EXPECT_EQ(applyStencil(colour, stencil, crop), StencilOutcome::applied);
        EXPECT_EQ(Bytes(&colour.pixels[4], &colour.pixels[8]), result)
            << "under stencil " << +s[0] << "," << +s[1] << "," << +s[2] << "," << +s[3];
    }
}

TEST(Operations, NamesQuotedOnlyWhenTheyWouldReadBackWrong)
{
    // The bytes at either end of each range escaped, and letters beyond ASCII, which never are.
    // clang-format off
    const std::pair<std::string, std::string> rows[] = {{"", ""},
        {" ~/é€😀.png\xf4\x8f\xbf\xbf", " ~/é€😀.png\xf4\x8f\xbf\xbf"},
        {"\x80\xc2\x80\xc2\x9f\xc2\xa0\xed\xa0\x80\xc0\xaf\xc3(",
            R"("\200\302\200\302\237)" "\xc2\xa0" R"(\355\240\200\300\257\303(")"},
        {"\a\b\t\n\v\f\r", R"("\a\b\t\n\v\f\r")"}, {"a\"b\\", R"("a\"b\\")"},
        {std::string("\0\x01\x06\x0e\x1b\x1f\x7f", 7), R"("\000\001\006\016\033\037\177")"}};
    // clang-format on
    for (const auto& [name, quoted] : rows)
        EXPECT_EQ(quotedName(name), quoted);
}

TEST(Operations, RefusesWhatWouldLoseData)
{
    // Only the first frame of an animated image would be written back.
    const Bytes png = bytesOf(Case{"", "basn2c08.png", chunk("acTL", std::string(8, '\0'))});
    Image image;
    EXPECT_EQ(image.decode(png).reason(), "animated PNG is not supported");
}

// A file's need counts what its compressed text and profile may inflate to.
TEST(Operations, NeedCountsWhatChunksInflateTo)
{
    const std::string zeros(4 << 20, '\0');
    std::string packed(compressBound(zeros.size()), '\0');
    uLongf size = packed.size();
    ASSERT_EQ(compress((Bytef*)&packed[0], &size, (const Bytef*)zeros.data(), zeros.size()), Z_OK);
    packed.resize(size);
    const uint64_t plain = pngNeed(bytesOf(corpus + "basn0g08.png"), false);
    const std::pair<const char*, std::string> chunks[] = {{"zTXt", std::string("k\0\0", 3)},
                                                          {"iTXt", std::string("k\0\1\0\0\0", 6)},
                                                          {"iCCP", std::string("p\0\0", 3)}};
    for (const auto& [type, head] : chunks) {
        const Bytes png = bytesOf(Case{"", "basn0g08.png", chunk(type, head + packed)});
        EXPECT_GE(pngNeed(png, false), plain + zeros.size()) << type;
    }
}

// What a file needs, rewritten and checked, by the model that README's
// "Memory" gives and make bench holds against the peak: a table of kinds,
// so that a change to any term shows. The last has more chunks than any
// picture, each of which is taken to be kept as text.
TEST(Operations, NeedOfEachKind)
{
    Bytes chunks = bytesOf(corpus + "basn0g08.png");
    chunks.resize(33);
    for (int i = 0; i <= 1 << 20; ++i)
        chunks.insert(chunks.end(), {0, 0, 0, 0, 'a', 'b', 'c', 'd', 0, 0, 0, 0});
    // Passes of other widths and heights than the 32 of the corpus, in
    // 16-bit RGBA, whose image data outweigh its pixels.
    Bytes odd;
    lodepng::State state;
    state.info_png.interlace_method = 1;
    state.encoder.auto_convert = 0;
    state.info_raw.bitdepth = state.info_png.color.bitdepth = 16;
    ASSERT_EQ(lodepng::encode(odd, Bytes(37 * 38 * 8, 0x80), 37, 38, state), 0u);
    const struct {
        const char* name;
        Bytes png;
        uint64_t rewritten, checked;
    } kinds[] = {{"grey", bytesOf(corpus + "basn0g08.png"), 1057827, 1056906},
                 {"RGB, 16-bit", bytesOf(corpus + "basn2c16.png"), 1061532, 1061532},
                 {"palette", bytesOf(corpus + "basn3p08.png"), 1061271, 1058054},
                 {"RGBA, 16-bit", bytesOf(corpus + "basn6a16.png"), 1071894, 1071894},
                 {"interlaced", bytesOf(corpus + "ibasn6a08.png"), 1062526, 1057566},
                 {"interlaced grey, 16-bit", bytesOf(corpus + "ibasn0g16.png"), 1062331, 1057042},
                 {"interlaced, 37x38", odd, 1071602, 1071602},
                 {"a million chunks", chunks, 38831308, 26241498}};
    for (const auto& kind : kinds) {
        EXPECT_EQ(pngNeed(kind.png, true), kind.rewritten) << kind.name << ", rewritten";
        EXPECT_EQ(pngNeed(kind.png, false), kind.checked) << kind.name << ", checked";
    }
}

// The image data's size against libpng's own count of rows and passes, at
// every size up to 17 by 17, so that each pass begins and ends at every
// offset, and at every number of bits a pixel.
TEST(Operations, ImageDataSizeAsLibpngCounts)
{
    for (const unsigned bits : {1, 2, 4, 8, 16, 24, 32, 48, 64})
        for (png_uint_32 width = 1; width <= 17; ++width)
            for (png_uint_32 height = 1; height <= 17; ++height) {
                const auto rowBytes = [bits](png_uint_32 columns) {
                    return (size_t(columns) * bits + 7) / 8;
                };
                double passes = 0;
                for (int pass = 0; pass < 7; ++pass) {
                    const png_uint_32 columns = PNG_PASS_COLS(width, pass);
                    passes +=
                        columns == 0 ? 0 : PNG_PASS_ROWS(height, pass) * (1.0 + rowBytes(columns));
                }
                const double plain = height * (1.0 + rowBytes(width));
                if (imageDataSize(width, height, bits, false) != plain ||
                    imageDataSize(width, height, bits, true) != passes) {
                    ADD_FAILURE() << width << "x" << height << ", " << bits
                                  << " bits: " << imageDataSize(width, height, bits, false)
                                  << " for " << plain << ", interlaced "
                                  << imageDataSize(width, height, bits, true) << " for " << passes;
                    return;
                }
            }
}

#ifndef _WIN32
// The descriptors left, against those open found by trying each number
// below the limit.
TEST(Machine, DescriptorsLeftAsProbed)
{
    rlimit files;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
    if (files.rlim_cur == RLIM_INFINITY)
        GTEST_SKIP() << "no limit on open files here";
    size_t open = 0;
    for (rlim_t descriptor = 0; descriptor < files.rlim_cur; ++descriptor)
        open += fcntl(int(descriptor), F_GETFD) != -1;
    EXPECT_EQ(descriptorsLeft(), files.rlim_cur - open);
}
#endif

// A worker's image holds nothing of a file once it is done, such as its
// text, which no need counts while the next file waits.
TEST(Operations, NothingKeptBetweenFiles)
{
    const std::string path = ::testing::TempDir() + "text.png";
    const Bytes png = bytesOf(Case{"", "basn6a08.png", chunk("tEXt", std::string("k\0text", 6))});
    ASSERT_EQ(lodepng::save_file(png, path), 0u);
    Image image;
    FoundFile given;
    given.path = path;
    FilePlan plan = planFile(given, false);
    FilesInRewrite inRewrite;
    ASSERT_EQ(scrubFile(image, given, plan, inRewrite, UINT64_MAX).outcome, Outcome::hidesColour);
    EXPECT_EQ(image.codecState.info_png.text_num, 0u) << "text chunks";
}
