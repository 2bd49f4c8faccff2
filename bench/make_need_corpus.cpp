// Writes one file of each layout that decides what handling a PNG file
// needs, each hiding colour, so that scrubhidden decodes and encodes it
// whole, and each large enough that the tool's own few MiB do not count:
// the files of the benchmark's table of peak memory against need.
//
//   make_need_corpus DIR
#include <cstdio>
#include <string>
#include <vector>

#include <sys/stat.h>

#include <lodepng.h>

namespace {
using Bytes = std::vector<unsigned char>;

// A sample of noise, the same on every run.
unsigned char noise(size_t i)
{
    i = (i ^ 61) ^ (i >> 16);
    i *= 9;
    i ^= i >> 4;
    i *= 0x27d4eb2d;
    return static_cast<unsigned char>(i ^ (i >> 15));
}

std::string bigEndian(size_t value)
{
    return {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
}

std::string chunk(const std::string& type, const std::string& data)
{
    std::string whole = type + data;
    const unsigned crc =
        lodepng_crc32(reinterpret_cast<const unsigned char*>(whole.data()), whole.size());
    return bigEndian(data.size()) + whole + bigEndian(crc);
}

// Text compressed as zlib does it, by the codec's own deflate.
std::string compressed(const std::string& text)
{
    unsigned char* out = nullptr;
    size_t size = 0;
    lodepng_zlib_compress(&out, &size, reinterpret_cast<const unsigned char*>(text.data()),
                          text.size(), &lodepng_default_compress_settings);
    std::string packed(reinterpret_cast<char*>(out), size);
    free(out);
    return packed;
}

struct Kind {
    const char* name;
    unsigned width, height;
    LodePNGColorType type;
    unsigned depth;
    bool interlaced;
    // Noise, stored as it is; otherwise smooth, and deflated.
    bool stored;
    // Chunks put before the image data, and how many bytes of it each IDAT
    // holds, where not all.
    std::string chunks;
    size_t idatPiece;
};

// The samples of an image of kind's layout that hides colour: every fourth
// pixel has alpha 0 with colour behind; a palette's first entry and a grey
// key are colours of alpha 0.
Bytes samples(const Kind& kind)
{
    const size_t channels[] = {1, 0, 3, 1, 2, 0, 4};
    const size_t bits = channels[kind.type] * kind.depth;
    const size_t row = (kind.width * bits + 7) / 8;
    Bytes raw(row * kind.height);
    for (size_t y = 0; y < kind.height; ++y)
        for (size_t x = 0; x < row; ++x) {
            const size_t i = y * row + x;
            raw[i] = kind.stored ? noise(i) : static_cast<unsigned char>((x / 7 + y / 5) * 3);
            const size_t sample = x * 8 / kind.depth;
            const bool alpha = (kind.type == LCT_RGBA || kind.type == LCT_GREY_ALPHA) &&
                               sample % channels[kind.type] == channels[kind.type] - 1;
            if (alpha && (sample / channels[kind.type] + y) % 4 == 0)
                raw[i] = 0;
        }
    return raw;
}

bool write(const std::string& dir, const Kind& kind)
{
    lodepng::State state;
    LodePNGColorMode& mode = state.info_png.color;
    mode.colortype = kind.type;
    mode.bitdepth = kind.depth;
    if (kind.type == LCT_PALETTE) {
        lodepng_palette_add(&mode, 200, 0, 0, 0);
        for (unsigned i = 1; i < (1u << kind.depth); ++i)
            lodepng_palette_add(&mode, noise(3 * i), noise(3 * i + 1), noise(3 * i + 2), 255);
    }
    if (kind.type == LCT_GREY)
        mode.key_defined = 1, mode.key_r = mode.key_g = mode.key_b = 30;
    lodepng_color_mode_copy(&state.info_raw, &mode);
    state.encoder.auto_convert = 0;
    state.info_png.interlace_method = kind.interlaced;
    if (kind.stored)
        state.encoder.zlibsettings.btype = 0;
    Bytes png;
    if (lodepng::encode(png, samples(kind), kind.width, kind.height, state) != 0)
        return false;
    std::string file(png.begin(), png.end());
    // The chunks go after the header; the image data are cut into pieces.
    std::string out = file.substr(0, 33) + kind.chunks;
    for (size_t at = 33; at < file.size();) {
        const size_t length =
            (size_t(png[at]) << 24) | (png[at + 1] << 16) | (png[at + 2] << 8) | png[at + 3];
        const std::string type = file.substr(at + 4, 4), data = file.substr(at + 8, length);
        for (size_t piece = 0; type == "IDAT" && kind.idatPiece && piece < length;
             piece += kind.idatPiece)
            out += chunk(type, data.substr(piece, kind.idatPiece));
        if (type != "IDAT" || kind.idatPiece == 0)
            out += file.substr(at, 12 + length);
        at += 12 + length;
    }
    FILE* f = std::fopen((dir + "/" + kind.name + ".png").c_str(), "wb");
    const bool written = f && std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return f && std::fclose(f) == 0 && written;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_need_corpus DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    ::mkdir(dir.c_str(), 0755);
    std::string tinyTexts, zTexts, unknown, text(100 << 20, 'a');
    for (int i = 0; i < 500000; ++i)
        tinyTexts += chunk("tEXt", std::string("k\0", 2));
    // As much as the codec inflates of one text or profile.
    std::string full(16 << 20, 'a');
    const std::string fullText = compressed(full);
    for (int i = 0; i < 8; ++i)
        zTexts += chunk("zTXt", std::string("k\0\0", 3) + fullText);
    // A profile's header says what colour space it is for.
    const std::string profile = compressed(full.replace(16, 4, "RGB ").replace(36, 4, "acsp"));
    for (int i = 0; i < 200000; ++i)
        unknown += chunk("unKn", std::string(500, char(i)));
    // Text that the encoder, which compresses it, cannot make smaller.
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = char(' ' + noise(i) % 95);
    const Kind kinds[] = {{"rgba", 4000, 4000, LCT_RGBA, 8, false, false, "", 0},
                          {"rgba-noise", 3000, 3000, LCT_RGBA, 8, false, true, "", 0},
                          {"wide", 6291456, 1, LCT_RGBA, 8, false, true, "", 0},
                          {"tall", 1, 8000000, LCT_RGBA, 8, false, true, "", 0},
                          {"interlaced", 3000, 3000, LCT_RGBA, 8, true, false, "", 0},
                          {"16-bit", 2000, 2000, LCT_RGBA, 16, false, true, "", 0},
                          {"palette", 5000, 5000, LCT_PALETTE, 8, false, false, "", 0},
                          {"grey-key", 5000, 5000, LCT_GREY, 8, false, false, "", 0},
                          {"1-bit-palette", 6000, 6000, LCT_PALETTE, 1, false, false, "", 0},
                          {"many-idat", 3000, 3000, LCT_RGBA, 8, false, true, "", 512},
                          {"tiny-texts", 256, 256, LCT_RGBA, 8, false, false, tinyTexts, 0},
                          {"large-text", 256, 256, LCT_RGBA, 8, false, false,
                           chunk("tEXt", std::string("k\0", 2) + text), 0},
                          {"compressed-texts", 256, 256, LCT_RGBA, 8, false, false, zTexts, 0},
                          {"profile", 256, 256, LCT_RGBA, 8, false, false,
                           chunk("iCCP", std::string("p\0\0", 3) + profile), 0},
                          {"unknown-chunks", 256, 256, LCT_RGBA, 8, false, false, unknown, 0}};
    for (const Kind& kind : kinds)
        if (!write(dir, kind)) {
            std::fprintf(stderr, "make_need_corpus: %s: cannot write it\n", kind.name);
            return 1;
        }
    return 0;
}
