#include "hidden_colour_possible.h"

#include <lodepng.h>

namespace {
// A key decodes as each sample's high byte when samples have 16 bits, and
// scaled to 8 bits otherwise, where only 0 stays 0.
bool keyIsBlack(const unsigned char* key, unsigned samples, unsigned bitDepth)
{
    for (unsigned s = 0; s < samples; ++s)
        if (key[2 * s] != 0 || (bitDepth < 16 && key[2 * s + 1] != 0))
            return false;
    return true;
}
} // namespace

bool mayHoldHiddenColour(const std::vector<unsigned char>& png)
{
    lodepng::State state;
    unsigned width = 0;
    unsigned height = 0;
    if (lodepng_inspect(&width, &height, &state, png.data(), png.size()) != 0)
        return true;
    const LodePNGColorMode& mode = state.info_png.color;
    if (mode.colortype == LCT_GREY_ALPHA || mode.colortype == LCT_RGBA)
        return true;

    const unsigned char* palette = nullptr;
    const unsigned char* transparency = nullptr;
    size_t paletteSize = 0;
    size_t transparencySize = 0;
    bool imageData = false;
    const unsigned char* end = png.data() + png.size();
    // The header, 33 bytes in, was checked above.
    for (const unsigned char* chunk = png.data() + 33;; chunk = lodepng_chunk_next_const(chunk, end)) {
        if (end - chunk < 12)
            return true;
        const size_t length = lodepng_chunk_length(chunk);
        if (length > size_t(end - chunk) - 12 || lodepng_chunk_check_crc(chunk) != 0)
            return true;
        // The decoder reads the chunks it knows as it goes and refuses the
        // file over any that it cannot read; this reads them the same way.
        if (lodepng_inspect_chunk(&state, chunk - png.data(), png.data(), png.size()) != 0)
            return true;
        const unsigned char* data = lodepng_chunk_data_const(chunk);
        if (lodepng_chunk_type_equals(chunk, "IEND"))
            break;
        if (lodepng_chunk_type_equals(chunk, "IDAT")) {
            imageData = true;
        } else if (lodepng_chunk_type_equals(chunk, "acTL")) {
            return true; // animated: the decoder refuses it
        } else if (lodepng_chunk_type_equals(chunk, "PLTE")) {
            palette = data;
            paletteSize = length;
        } else if (lodepng_chunk_type_equals(chunk, "tRNS")) {
            transparency = data;
            transparencySize = length;
            // The decoder needs the palette first.
            if (mode.colortype == LCT_PALETTE && palette == nullptr)
                return true;
        } else if (!lodepng_chunk_ancillary(chunk)) {
            return true;
        }
    }
    if (!imageData || (mode.colortype == LCT_PALETTE && palette == nullptr))
        return true;
    if (transparency == nullptr)
        return false;
    if (mode.colortype != LCT_PALETTE) {
        const unsigned samples = mode.colortype == LCT_RGB ? 3 : 1;
        return transparencySize != 2 * samples || !keyIsBlack(transparency, samples, mode.bitdepth);
    }
    if (paletteSize % 3 != 0 || paletteSize > 768 || transparencySize > paletteSize / 3)
        return true;
    for (size_t i = 0; i < transparencySize; ++i)
        if (transparency[i] == 0 && (palette[3 * i] != 0 || palette[3 * i + 1] != 0 || palette[3 * i + 2] != 0))
            return true;
    return false;
}
