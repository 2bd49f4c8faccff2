// Writes the seed inputs of the fuzz targets: valid files of every colour
// type, interlaced or not, with and without text chunks, and for stencilcrop
// pairs that fit, pairs of different sizes and stencils with nothing visible.
//
//   make_corpus DIR   (fills DIR/stencilcrop and DIR/scrubhidden)
#include <cstdio>
#include <exception>
#include <string>

#include <sys/stat.h>

#include "fixtures.h"
#include "pair_input.h"

namespace {

const unsigned width = 6;
const unsigned height = 5;

// The same picture, some of it hidden and some of it dark, in each layout.
std::vector<std::pair<std::string, Bytes>> seedFiles()
{
    const Bytes rgba = noisyRgba(width, height, 5, true);
    std::vector<std::pair<std::string, Bytes>> files;
    auto add = [&files](const std::string& name, const Bytes& raw, PngLayout layout) {
        files.emplace_back(name, encodeRaw(raw, width, height, layout));
        layout.interlaced = true;
        layout.texts = {{"Comment", "seed"}, {"Title", name}};
        files.emplace_back(name + "-interlaced-text", encodeRaw(raw, width, height, layout));
    };

    add("rgba", rgba, PngLayout());
    PngLayout layout;
    Bytes raw;
    for (unsigned depth : {1u, 2u, 4u, 8u}) {
        layout = PngLayout();
        layout.colourType = LCT_GREY;
        layout.bitDepth = depth;
        add("grey" + std::to_string(depth), Bytes((width * depth + 7) / 8 * height, 0x5a), layout);
    }
    layout = PngLayout();
    layout.colourType = LCT_GREY_ALPHA;
    raw.clear();
    for (size_t o = 0; o < rgba.size(); o += 4)
        raw.insert(raw.end(), {rgba[o], rgba[o + 3]});
    add("grey-alpha", raw, layout);

    layout = PngLayout();
    layout.colourType = LCT_PALETTE;
    layout.palette = {{0, 0, 0, 0}, {10, 20, 5, 255}, {200, 100, 50, 128}, {255, 255, 255, 255}};
    raw.clear();
    for (unsigned i = 0; i < width * height; ++i)
        raw.push_back(static_cast<unsigned char>(i % 4));
    add("palette", raw, layout);

    layout = PngLayout();
    layout.colourType = LCT_RGB;
    layout.colourKey = true;
    layout.keyR = 200;
    raw.clear();
    for (size_t o = 0; o < rgba.size(); o += 4)
        raw.insert(raw.end(), {rgba[o + 3] == 0 ? static_cast<unsigned char>(200) : rgba[o], 0, 0});
    add("rgb-key", raw, layout);

    layout = PngLayout();
    layout.bitDepth = 16;
    raw.clear();
    for (unsigned char byte : rgba)
        raw.insert(raw.end(), {byte, static_cast<unsigned char>(~byte)});
    add("rgba16", raw, layout);
    return files;
}


} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_corpus DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    const std::string crop = dir + "/stencilcrop/";
    const std::string scrub = dir + "/scrubhidden/";
    ::mkdir(dir.c_str(), 0755);
    ::mkdir(crop.c_str(), 0755);
    ::mkdir(scrub.c_str(), 0755);

    const auto files = seedFiles();
    const Bytes wider = encodeRgba(noisyRgba(width + 1, height, 9, true), width + 1, height);
    const Bytes invisible = encodeRgba(Bytes(width * height * 4, 0), width, height);
    try {
        for (size_t i = 0; i < files.size(); ++i) {
            const std::string& name = files[i].first;
            const Bytes& png = files[i].second;
            writeBytes(scrub + name, png);
            // Each layout as colour image and as stencil, against its neighbour.
            const Bytes& other = files[(i + 1) % files.size()].second;
            writeBytes(crop + name + "+next", joinPair(png, other));
            writeBytes(crop + name + "+wider", joinPair(png, wider));
            writeBytes(crop + name + "+invisible", joinPair(png, invisible));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_corpus: %s\n", e.what());
        return 1;
    }
    return 0;
}
