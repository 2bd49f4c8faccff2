// Writes the benchmark's inputs: sprite-like RGBA images of the sizes that
// pipelines handle, as colour images with their stencils, and as files to
// scrub of which one in four has colour behind its transparent pixels; and
// textures that cannot hide colour: opaque RGB and grey, and palette sprites
// whose transparent pixels are black; and thousands of small sprites, where
// what a rewrite costs beyond the codec shows most.
//
//   make_bench_corpus DIR   (fills DIR/colour, DIR/stencil, DIR/scrub, DIR/opaque and DIR/small)
#include <cmath>
#include <cstdio>
#include <string>

#include <sys/stat.h>

#include "image.h"
#include "report.h"

namespace {

const char* const tool = "make_bench_corpus";

struct Sprite {
    unsigned width;
    unsigned height;
    unsigned seed;
    double cx, cy, rx, ry; // the body: an ellipse inside the frame
};

Sprite spriteFor(unsigned width, unsigned height, unsigned seed)
{
    const double wobble = (seed * 37 % 17) / 17.0;
    return {width,
            height,
            seed,
            width * (0.45 + 0.1 * wobble),
            height * (0.5 - 0.08 * wobble),
            width * (0.3 + 0.1 * wobble),
            height * (0.35 - 0.05 * wobble)};
}

// Where a point lies relative to the body: below 1 inside, above 1 outside.
double reach(const Sprite& s, unsigned x, unsigned y)
{
    return std::hypot((x - s.cx) / s.rx, (y - s.cy) / s.ry);
}

// Smooth shading with a little texture, as painted sprites have.
void shade(const Sprite& s, unsigned x, unsigned y, unsigned char* p)
{
    const double t = (x + 2.0 * y) / (s.width + 2.0 * s.height);
    const double hue = s.seed * 0.7;
    const double grain = ((x * 7 + y * 13 + s.seed) % 11) / 11.0;
    p[0] = static_cast<unsigned char>(127 + 100 * std::sin(hue + 4 * t) + 20 * grain);
    p[1] = static_cast<unsigned char>(127 + 100 * std::sin(hue + 2 + 3 * t) - 10 * grain);
    p[2] = static_cast<unsigned char>(127 + 100 * std::sin(hue + 4 + 5 * t));
}

void colourImage(Image& image, const Sprite& s)
{
    for (unsigned y = 0; y < s.height; ++y)
        for (unsigned x = 0; x < s.width; ++x) {
            unsigned char* p = &image.pixels[(size_t(y) * s.width + x) * 4];
            shade(s, x, y, p);
            p[3] = 255;
        }
}

// A silhouette: transparent outside, a soft edge, a dark outline and eyes,
// and a light body that lets the colour through.
void stencilImage(Image& image, const Sprite& s)
{
    const double edge = 2.0 / s.rx;
    for (unsigned y = 0; y < s.height; ++y)
        for (unsigned x = 0; x < s.width; ++x) {
            unsigned char* p = &image.pixels[(size_t(y) * s.width + x) * 4];
            const double r = reach(s, x, y);
            const bool eye =
                std::hypot(x - (s.cx - s.rx * 0.35), y - (s.cy - s.ry * 0.2)) < s.rx * 0.08 ||
                std::hypot(x - (s.cx + s.rx * 0.35), y - (s.cy - s.ry * 0.2)) < s.rx * 0.08;
            if (r > 1 + edge) {
                p[0] = p[1] = p[2] = p[3] = 0;
            } else if (r > 1 - 2 * edge || eye) {
                p[0] = 12, p[1] = 10, p[2] = 20;
                p[3] = static_cast<unsigned char>(r > 1 ? 255 * (1 + edge - r) / edge : 255);
            } else {
                p[0] = p[1] = p[2] = 235;
                p[3] = 255;
            }
        }
}

// A finished sprite; with hiddenColour its transparent pixels keep the
// shading an editor left there, otherwise they are black, those of the
// stencil's soft edge too.
void scrubImage(Image& image, const Sprite& s, bool hiddenColour)
{
    stencilImage(image, s);
    for (unsigned y = 0; y < s.height; ++y)
        for (unsigned x = 0; x < s.width; ++x) {
            unsigned char* p = &image.pixels[(size_t(y) * s.width + x) * 4];
            if (p[3] != 0 && p[0] > 30)
                shade(s, x, y, p);
            else if (p[3] == 0 && hiddenColour)
                shade(s, x, y, p);
            else if (p[3] == 0)
                p[0] = p[1] = p[2] = 0;
        }
}

// An opaque texture in colour or in grey, or, as a palette sprite, its
// colours cut to a few levels and black where it is transparent.
void textureImage(Image& image, const Sprite& s, int kind)
{
    stencilImage(image, s);
    for (unsigned y = 0; y < s.height; ++y)
        for (unsigned x = 0; x < s.width; ++x) {
            unsigned char* p = &image.pixels[(size_t(y) * s.width + x) * 4];
            const bool transparent = p[3] == 0;
            shade(s, x, y, p);
            p[3] = 255;
            if (kind == 1)
                p[0] = p[1] = p[2] = static_cast<unsigned char>((p[0] * 3 + p[1] * 4 + p[2]) / 8);
            if (kind >= 2)
                for (int c = 0; c < 3; ++c)
                    p[c] = static_cast<unsigned char>(p[c] / 64 * 85);
            if (kind == 3 && transparent)
                p[0] = p[1] = p[2] = p[3] = 0;
        }
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_bench_corpus DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    for (const char* sub : {"", "/colour", "/stencil", "/scrub", "/opaque", "/small"})
        ::mkdir((dir + sub).c_str(), 0755);

    // Sprites go to colour, stencil and scrub; textures to opaque, in turn
    // colour, grey, opaque palette and palette with transparency; small
    // sprites to small.
    enum Kind { sprites, textures, smallSprites };
    struct Batch {
        Kind kind;
        unsigned count, width, height;
    };
    const Batch batches[] = {{sprites, 120, 256, 256},    {sprites, 4, 1024, 768},
                             {sprites, 1, 2048, 2048},    {textures, 48, 512, 512},
                             {textures, 48, 256, 256},    {textures, 4, 2048, 2048},
                             {smallSprites, 4000, 32, 32}};
    unsigned seed = 0;
    Image image;
    for (const Batch& batch : batches)
        for (unsigned i = 0; i < batch.count; ++i, ++seed) {
            const Sprite sprite = spriteFor(batch.width, batch.height, seed);
            char name[64];
            const char* const kinds[] = {"sprite", "texture", "small"};
            std::snprintf(name, sizeof name, "/%s%04u-%ux%u.png", kinds[batch.kind], seed,
                          batch.width, batch.height);
            image.width = batch.width;
            image.height = batch.height;
            image.pixels.assign(image.pixelBytes(), 0);
            const auto write = [&](const char* set) {
                const std::string path = dir + set + name;
                return succeededElseReported(image.save(path), tool, path.c_str());
            };
            bool written = true;
            if (batch.kind == sprites) {
                colourImage(image, sprite);
                written = write("/colour");
                stencilImage(image, sprite);
                written = written && write("/stencil");
            }
            if (batch.kind == textures) {
                textureImage(image, sprite, static_cast<int>(i % 4));
                written = write("/opaque");
            } else {
                scrubImage(image, sprite, seed % 4 == 0);
                written = written && write(batch.kind == smallSprites ? "/small" : "/scrub");
            }
            if (!written)
                return 1;
        }
    return 0;
}
