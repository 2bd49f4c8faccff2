#include "image.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "file.h"

namespace {
// Whether the first bytes of a file, as many as there are up to eight, are
// those that start every PNG file.
bool startsLikePng(const std::vector<unsigned char>& head)
{
    static const unsigned char signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    return std::equal(head.begin(), head.begin() + std::min<size_t>(head.size(), 8), signature);
}

// An ICC profile names the colour space it describes at bytes 16 to 19.
bool hasGreyProfile(const LodePNGInfo& info)
{
    return info.iccp_defined && info.iccp_profile_size >= 20 &&
           std::memcmp(info.iccp_profile + 16, "GRAY", 4) == 0;
}

bool allGrey(const std::vector<unsigned char>& pixels, size_t bytes)
{
    for (size_t o = 0; o + 3 < bytes; o += 4)
        if (pixels[o] != pixels[o + 1] || pixels[o] != pixels[o + 2])
            return false;
    return true;
}

// An animated PNG announces itself with an acTL chunk before its first
// image data; the header before it has been checked.
bool animated(const std::vector<unsigned char>& png)
{
    const unsigned char* end = png.data() + png.size();
    for (const unsigned char* chunk = png.data() + 33; end - chunk >= 12; chunk = lodepng_chunk_next_const(chunk, end)) {
        if (lodepng_chunk_type_equals(chunk, "IDAT"))
            return false;
        if (lodepng_chunk_type_equals(chunk, "acTL"))
            return true;
    }
    return false;
}

// What the decoder kept describes the file that was read, and a few of its
// parts would bind the encoder to that file's layout, which the pixels no
// longer have: significant bits make it keep the input's colour type and bit
// depth, or refuse; a grey ICC profile forbids colour; a 16-bit background
// that only 16 bits hold keeps the output at 16 bits although the pixels
// kept just each sample's high byte.
void fitInfoToPixels(LodePNGInfo& info, const std::vector<unsigned char>& pixels, size_t bytes)
{
    info.sbit_defined = 0;
    if (hasGreyProfile(info) && !allGrey(pixels, bytes))
        lodepng_clear_icc(&info);
    if (info.background_defined && info.color.bitdepth == 16) {
        info.background_r = (info.background_r >> 8) * 257;
        info.background_g = (info.background_g >> 8) * 257;
        info.background_b = (info.background_b >> 8) * 257;
    }
}

// Says why decoding png failed in the words a user needs: bytes that do not
// begin as a PNG file, or one cut short before its end chunk, whatever the
// codec tripped over first there; otherwise the codec's own words.
Failure decodeFailure(unsigned code, const std::vector<unsigned char>& png)
{
    static const unsigned char end[8] = {0, 0, 0, 0, 'I', 'E', 'N', 'D'};
    if (png.empty())
        return Failure::codec(code);
    if (!startsLikePng(png))
        return Failure::of(Failure::Kind::notPng);
    const auto found = std::search(png.begin(), png.end(), end, end + 8);
    if (png.end() - found < 12)
        return Failure::of(Failure::Kind::truncated, code);
    return Failure::codec(code);
}

void clear(Image& image)
{
    image.pixels.clear();
    image.width = 0;
    image.height = 0;
    image.loaded = false;
}

// The signature and the header chunk, which tell a PNG file from others.
const size_t headSize = 33;
} // namespace

Failure readPng(OpenFile& file, std::vector<unsigned char>& png)
{
    png.clear();
    Failure failure = readUpTo(file, png, headSize);
    if (!failure.failed() && !startsLikePng(png))
        return Failure::of(Failure::Kind::notPng);
    if (!failure.failed() && png.size() == headSize)
        failure = readUpTo(file, png, SIZE_MAX);
    return failure;
}

Failure Image::load(const std::string& path)
{
    clear(*this);
    std::vector<unsigned char> png;
    OpenFile file;
    Failure failure = openToRead(path, file);
    if (!failure.failed())
        failure = readPng(file, png);
    return failure.failed() ? failure : decode(png);
}

Failure Image::decode(const std::vector<unsigned char>& png)
{
    clear(*this);
    unsigned decodedWidth = 0;
    unsigned decodedHeight = 0;
    const bool inspected = lodepng_inspect(&decodedWidth, &decodedHeight, &codecState, png.data(), png.size()) == 0;
    if (inspected && animated(png))
        return Failure::of(Failure::Kind::animated);
    // The buffer is kept for files of the same size or smaller, but not
    // alongside a larger one: holding both would only raise the peak.
    if (inspected && size_t(decodedWidth) * decodedHeight * 4 > pixels.capacity())
        std::vector<unsigned char>().swap(pixels);
    // The decoder appends, which is why pixels was emptied above.
    const unsigned code = lodepng::decode(pixels, decodedWidth, decodedHeight, codecState, png);
    if (code != 0) {
        pixels.clear();
        return decodeFailure(code, png);
    }
    width = decodedWidth;
    height = decodedHeight;
    loaded = true;
    return Failure();
}

Failure Image::encode(std::vector<unsigned char>& png)
{
    png.clear();
    fitInfoToPixels(codecState.info_png, pixels, std::min(pixelBytes(), pixels.size()));
    // Refuses, with a code of its own, a buffer shorter than the stated size.
    return Failure::codec(lodepng::encode(png, pixels, width, height, codecState));
}

Failure Image::save(const std::string& path)
{
    std::vector<unsigned char> png;
    const Failure failure = encode(png);
    return failure.failed() ? failure : writeNewFile(path, png);
}
