#include "image.h"

#include <algorithm>
#include <cmath>
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
    for (const unsigned char* chunk = png.data() + 33; end - chunk >= 12;
         chunk = lodepng_chunk_next_const(chunk, end)) {
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
}

// The signature and the header chunk, which tell a PNG file from others.
const size_t headSize = 33;

// What each chunk the decoder keeps in a list costs beyond its bytes, as
// read (its key and text each in a block of their own, and its place in the
// list) and again as the encoder copies the list and writes the chunk anew.
const double keptChunkCost = 128;

uint32_t bigEndian(const unsigned char* bytes)
{
    return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
}

// The need of a PNG file of size bytes whose bytes read(offset, buffer,
// length) gives, returning how many it gave; see pngNeed.
template <typename Read> uint64_t needOf(uint64_t size, bool encoding, Read read)
{
    std::vector<unsigned char> head(headSize);
    if (read(0, head.data(), headSize) < headSize || !startsLikePng(head) ||
        bigEndian(&head[12]) != 0x49484452)
        return size;
    // Bits per pixel, as the codec counts them: none for a colour type it
    // does not know, which it refuses before it holds anything.
    const LodePNGColorMode mode = lodepng_color_mode_make(LodePNGColorType(head[25]), head[24]);
    const double width = bigEndian(&head[16]), height = bigEndian(&head[20]);
    const double bits = lodepng_get_bpp(&mode);
    // The text and profiles that the codec keeps: plain text as long as it
    // is, compressed text and profiles as they inflate, to at most 1032
    // times their length and to no more than the codec's limit for each.
    const LodePNGDecoderSettings limits = lodepng::State().decoder;
    double held = 0;
    // The walk stops where decoding would: at the end chunk, or at a type
    // that is no four letters. A file of more chunks than any picture needs
    // is taken to inflate all the rest, rather than walked a chunk at a time.
    unsigned char chunk[8];
    const auto letter = [](unsigned char c) { return (c | 32) >= 'a' && (c | 32) <= 'z'; };
    size_t chunks = 0;
    double kept = 0;
    for (uint64_t at = headSize; at + 12 <= size && read(at, chunk, 8) == 8;
         at += 12 + uint64_t(bigEndian(chunk))) {
        if (!std::all_of(chunk + 4, chunk + 8, letter))
            break;
        if (++chunks > (1 << 20)) {
            held += 1032.0 * double(size - at);
            kept += double(size - at) / 12;
            break;
        }
        const bool plain = lodepng_chunk_type_equals(chunk, "tEXt");
        const bool packed =
            lodepng_chunk_type_equals(chunk, "zTXt") || lodepng_chunk_type_equals(chunk, "iTXt");
        kept += plain || packed;
        const double length = bigEndian(chunk), bound = 1032.0 * length;
        if (plain)
            held += length;
        if (packed)
            held += std::min(bound, double(limits.max_text_size ? limits.max_text_size : bound));
        if (lodepng_chunk_type_equals(chunk, "iCCP"))
            held += std::min(bound, double(limits.max_icc_size ? limits.max_icc_size : bound));
        if (lodepng_chunk_type_equals(chunk, "IEND"))
            break;
    }
    // Decoding holds the file and its image data, then the rows as filtered
    // and as unfiltered, then the pixels twice over as they are converted
    // and copied; encoding the pixels, the rows it filters from them, and the
    // file it makes as it grows, and beside them five filtered copies of one
    // row of at most 4 bytes a pixel, of which it keeps the smallest; an
    // interlaced image its pixels once more, sorted into the seven passes.
    // Text and profiles are held twice: as the decoder reads each and keeps
    // a copy, and as the encoder copies them all to write them.
    const bool interlaced = head[28] != 0;
    const double file = double(size), pixels = 4 * width * height;
    const double rows = imageDataSize(width, height, bits, interlaced);
    const double decode = std::max(2 * file + 2 * rows, file + 2 * pixels);
    const double encode =
        encoding ? (interlaced ? 3 : 2) * pixels + 3 * file + 5 * (4 * width + 1) : 0;
    const double need =
        std::max(decode, encode) + 2 * held + (encoding ? 2 : 1) * keptChunkCost * kept + (1 << 20);
    return need >= 1.8e19 ? UINT64_MAX : uint64_t(need);
}
} // namespace

double imageDataSize(double width, double height, double bits, bool interlaced)
{
    const auto rows = [bits](double columns, double count) {
        return columns == 0 ? 0 : count * (1 + std::ceil(columns * bits / 8));
    };
    if (!interlaced)
        return rows(width, height);
    // Each pass's first column and row, and its steps across and down.
    const double passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                 {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    double size = 0;
    for (const auto& [x, y, across, down] : passes)
        size += rows(std::ceil(std::max(0.0, width - x) / across),
                     std::ceil(std::max(0.0, height - y) / down));
    return size;
}

uint64_t pngNeed(const std::vector<unsigned char>& png, bool encoding)
{
    return needOf(png.size(), encoding, [&](uint64_t at, unsigned char* buffer, size_t length) {
        const size_t given =
            at < png.size() ? std::min<size_t>(length, png.size() - size_t(at)) : 0;
        std::memcpy(buffer, png.data() + std::min<uint64_t>(at, png.size()), given);
        return given;
    });
}

Failure measurePng(const OpenFile& file, bool encoding, uint64_t& need)
{
    Failure failure;
    need =
        needOf(file.status.size, encoding, [&](uint64_t at, unsigned char* buffer, size_t length) {
            size_t done = 0;
            failure = failure.failed() ? failure : readAt(file.handle, at, buffer, length, done);
            return done;
        });
    return failure;
}

Failure readPng(OpenFile& file, std::vector<unsigned char>& png, uint64_t limit)
{
    png.clear();
    const bool regular = file.status.type == FileStatus::Type::regular;
    if (regular && file.status.size > limit)
        return Failure::tooLarge(file.status.size, limit);
    Failure failure = readUpTo(file, png, headSize);
    if (!failure.failed() && !startsLikePng(png))
        return Failure::of(Failure::Kind::notPng);
    // One byte past the limit tells a stream that is too long.
    if (!failure.failed() && png.size() == headSize)
        failure = readUpTo(file, png, size_t(std::min<uint64_t>(limit, SIZE_MAX - 1)) + 1);
    if (!failure.failed() && png.size() > limit)
        failure = Failure::tooLarge(0, limit);
    return failure;
}

Failure Image::load(const std::string& path, uint64_t limit, bool encoding, uint64_t* need)
{
    clear(*this);
    std::vector<unsigned char> png;
    OpenFile file;
    Failure failure = openToRead(path, file);
    if (!failure.failed())
        failure = readPng(file, png, limit);
    const uint64_t needed = failure.failed() ? 0 : pngNeed(png, encoding);
    if (need != nullptr)
        *need = needed;
    if (!failure.failed() && needed > limit)
        failure = Failure::tooLarge(needed, limit);
    return failure.failed() ? failure : decode(png);
}

Failure Image::decode(const std::vector<unsigned char>& png)
{
    clear(*this);
    unsigned decodedWidth = 0;
    unsigned decodedHeight = 0;
    const bool inspected =
        lodepng_inspect(&decodedWidth, &decodedHeight, &codecState, png.data(), png.size()) == 0;
    if (inspected && animated(png))
        return Failure::of(Failure::Kind::animated);
    // The buffer is kept for files of the same size or smaller, but not
    // alongside a larger one: holding both would only raise the peak.
    if (inspected && pixelBytesOf(decodedWidth, decodedHeight) > pixels.capacity())
        std::vector<unsigned char>().swap(pixels);
    // Image data that inflate past what the header implies are refused as
    // soon as they do, rather than once the codec holds all of them, which
    // a small file can make as large as it likes.
    const LodePNGColorMode& stored = codecState.info_png.color;
    const double expected = imageDataSize(decodedWidth, decodedHeight, lodepng_get_bpp(&stored),
                                          codecState.info_png.interlace_method != 0);
    codecState.decoder.zlibsettings.max_output_size =
        inspected && expected < double(SIZE_MAX) ? size_t(expected) : 0;
    // The decoder appends, which is why pixels was emptied above.
    const unsigned code = lodepng::decode(pixels, decodedWidth, decodedHeight, codecState, png);
    if (code != 0) {
        pixels.clear();
        return decodeFailure(code, png);
    }
    width = decodedWidth;
    height = decodedHeight;
    return Failure();
}

Failure Image::encode(std::vector<unsigned char>& png)
{
    png.clear();
    fitInfoToPixels(codecState.info_png, pixels, std::min(pixelBytes(), pixels.size()));
    // Refuses, with a code of its own, a buffer shorter than the stated size.
    return Failure::codec(lodepng::encode(png, pixels, width, height, codecState));
}

void Image::release(size_t keep)
{
    clear(*this);
    if (pixels.capacity() > keep)
        std::vector<unsigned char>().swap(pixels);
    lodepng_info_cleanup(&codecState.info_png);
    lodepng_info_init(&codecState.info_png);
}

Failure Image::save(const std::string& path)
{
    std::vector<unsigned char> png;
    const Failure failure = encode(png);
    return failure.failed() ? failure : writeNewFile(path, png);
}
