#include "hidden_colour_possible.h"

#include <lodepng.h>

namespace {
// A key decodes as each sample's high byte when samples have 16 bits, and
// scaled to 8 bits otherwise, where only 0 stays 0.
bool keyIsBlack(const LodePNGColorMode& mode)
{
    const unsigned shift = mode.bitdepth == 16 ? 8 : 0;
    return (mode.key_r >> shift) == 0 && (mode.key_g >> shift) == 0 && (mode.key_b >> shift) == 0;
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

    bool imageData = false;
    const unsigned char* end = png.data() + png.size();
    // The header, 33 bytes in, was checked above.
    for (const unsigned char* chunk = png.data() + 33;;
         chunk = lodepng_chunk_next_const(chunk, end)) {
        if (end - chunk < 12)
            return true;
        const size_t length = lodepng_chunk_length(chunk);
        if (length > size_t(end - chunk) - 12 || lodepng_chunk_check_crc(chunk) != 0)
            return true;
        // The decoder reads the chunks it knows as it goes and refuses the
        // file over any that it cannot read; this reads them the same way,
        // into the palette, its alphas and the key that the decoder will use.
        if (lodepng_inspect_chunk(&state, chunk - png.data(), png.data(), png.size()) != 0)
            return true;
        if (lodepng_chunk_type_equals(chunk, "IEND"))
            break;
        if (lodepng_chunk_type_equals(chunk, "IDAT")) {
            imageData = true;
        } else if (lodepng_chunk_type_equals(chunk, "acTL")) {
            return true; // animated: the decoder refuses it
        } else if (!lodepng_chunk_ancillary(chunk) && !lodepng_chunk_type_equals(chunk, "PLTE")) {
            return true; // a critical chunk that the decoder does not know
        }
    }
    if (!imageData || (mode.colortype == LCT_PALETTE && mode.palette == nullptr))
        return true;
    if (mode.colortype != LCT_PALETTE)
        return mode.key_defined && !keyIsBlack(mode);
    // Indices beyond the palette decode as opaque black.
    for (size_t i = 0; i < mode.palettesize; ++i) {
        const unsigned char* entry = &mode.palette[4 * i];
        if (entry[3] == 0 && (entry[0] != 0 || entry[1] != 0 || entry[2] != 0))
            return true;
    }
    return false;
}
