#pragma once

// What the tests share: a second decoder to check written files with, a few
// bytes of PNG made by hand, and a scratch directory.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <png.h>
#include <stdlib.h>
#include <zlib.h>

using Bytes = std::vector<unsigned char>;

// A file as libpng sees it: pixels as 8-bit RGBA (16-bit samples cut to their
// high byte, no gamma or colour correction) and the chunks that must or must
// not survive a rewrite. The background is given as 8-bit RGB.
struct Reference {
    unsigned width = 0, height = 0, depth = 0, interlace = 0, texts = 0;
    bool sbit = false, icc = false, bkgd = false;
    unsigned char background[3] = {};
    Bytes rgba;
};

inline Reference readReference(const std::string& path)
{
    Reference r;
    FILE* file = std::fopen(path.c_str(), "rb");
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (file == nullptr || setjmp(png_jmpbuf(png)))
        return Reference();
    png_init_io(png, file);
    png_read_info(png, info);
    r.depth = png_get_bit_depth(png, info);
    r.interlace = png_get_interlace_type(png, info);
    r.sbit = png_get_valid(png, info, PNG_INFO_sBIT);
    r.icc = png_get_valid(png, info, PNG_INFO_iCCP);
    png_color_16p bkgd;
    if ((r.bkgd = png_get_bKGD(png, info, &bkgd))) {
        png_colorp palette;
        int entries;
        const int grey = r.depth == 16 ? bkgd->gray >> 8 : bkgd->gray * 255 / ((1 << r.depth) - 1);
        if (png_get_PLTE(png, info, &palette, &entries) && png_get_channels(png, info) == 1)
            r.background[0] = palette[bkgd->index].red, r.background[1] = palette[bkgd->index].green,
            r.background[2] = palette[bkgd->index].blue;
        else if (png_get_channels(png, info) <= 2)
            r.background[0] = r.background[1] = r.background[2] = grey;
        else
            for (int c = 0; c < 3; ++c)
                r.background[c] = (&bkgd->red)[c] >> (r.depth == 16 ? 8 : 0);
    }
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    r.width = png_get_image_width(png, info);
    r.height = png_get_image_height(png, info);
    r.rgba.resize(size_t(r.width) * r.height * 4);
    std::vector<png_bytep> rows;
    for (size_t y = 0; y < r.height; ++y)
        rows.push_back(&r.rgba[y * r.width * 4]);
    png_read_image(png, rows.data());
    png_read_end(png, info);
    r.texts = png_get_text(png, info, nullptr, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return r;
}

inline Bytes readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void writeBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

inline std::string bigEndian(unsigned long value)
{
    return {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
}

// A chunk with its length and checksum, ready to splice into a file.
inline std::string chunk(const std::string& type, const std::string& data)
{
    const std::string body = type + data;
    return bigEndian(data.size()) + body +
           bigEndian(crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size()));
}

inline std::string scratchDirectory()
{
    std::string dir = ::testing::TempDir() + "pngtools.XXXXXX";
    return mkdtemp(&dir[0]);
}
