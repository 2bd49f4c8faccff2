// scrubhidden calls a file clean from its chunks alone when
// mayHoldHiddenColour says so. Whenever it does, a full decode of the same
// bytes must find no hidden colour, and may fail only where the README says
// the chunks leave a file unchecked: in a compressed stream that is wrong
// behind right checksums. (A palette index beyond the palette is no failure:
// LodePNG decodes it as opaque black.)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "hidden_colour_possible.h"
#include "scrub_hidden_colour.h"

// LodePNG's codes for those failures.
static const std::set<unsigned> unchecked = {
    // a deflate block that inflate cannot follow
    13, 14, 15, 16, 18, 20, 21, 23,
    // code lengths that build no Huffman tree
    49, 50, 51, 52, 54, 55, 64,
    // a zlib header that is none, a stream too short for one, a wrong Adler-32
    24, 25, 26, 53, 58,
    // inflated bytes with a filter type above 4, or too many or few for the
    // header, and more than that, where decoding stops them
    36, 91, 109};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Mutated bytes would rarely get past the checksums, so every whole chunk
    // gets a right one. Only a file whose chunks are whole up to IEND, with
    // image data before it, has a stream that can be wrong; there 64 is
    // inflate's code, not the chunk walk's.
    std::vector<unsigned char> png(data, data + size);
    bool stream = false, ended = false;
    for (size_t at = 8; at + 12 <= size && lodepng_chunk_length(&png[at]) <= size - at - 12;
         at += lodepng_chunk_length(&png[at]) + 12) {
        lodepng_chunk_generate_crc(&png[at]);
        stream |= !ended && lodepng_chunk_type_equals(&png[at], "IDAT");
        ended |= lodepng_chunk_type_equals(&png[at], "IEND");
    }
    // A header may claim more pixels, of a bit or more each, than deflate's
    // 1:1032 at most could inflate from these bytes: the stream must be wrong,
    // and decoding would only try the allocator.
    unsigned width = 0, height = 0;
    lodepng::State state;
    if (mayHoldHiddenColour(png) ||
        lodepng_inspect(&width, &height, &state, png.data(), size) != 0 ||
        uint64_t(width) * height > uint64_t(size) * 8 * 1100)
        return 0;
    Image image;
    const Failure failure = image.decode(png);
    const bool inStream =
        failure.kind == Failure::Kind::codec || failure.kind == Failure::Kind::truncated;
    if (!failure.failed()
            ? scrubHiddenColour(image)
            : !(stream && ended) || !inStream || unchecked.count(unsigned(failure.code)) == 0) {
        std::fprintf(stderr, "called clean, but %s\n",
                     !failure.failed() ? "hides colour" : failure.reason().c_str());
        std::abort();
    }
    return 0;
}

#ifdef FUZZ_REPLAY
// Without libFuzzer: each file named is one input. One named clean-* must
// also be called clean by its chunks alone, as the README promises for
// black keys and palettes whose transparent entries are black.
int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        std::vector<unsigned char> png;
        if (lodepng::load_file(png, argv[i]) != 0 || png.empty())
            return std::fprintf(stderr, "%s: cannot read\n", argv[i]), 1;
        if (std::strstr(argv[i], "/clean-") != nullptr && mayHoldHiddenColour(png))
            return std::fprintf(stderr, "%s: its chunks do not prove it clean\n", argv[i]), 1;
        LLVMFuzzerTestOneInput(png.data(), png.size());
    }
    return 0;
}
#endif
