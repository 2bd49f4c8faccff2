// Draws the example pictures and the README's illustrations, so that they
// can be made again and changed deliberately rather than edited by hand.
//
//   make_examples EXAMPLES_DIR DOCS_DIR
#include <cmath>
#include <cstdio>
#include <string>

#include "apply_stencil.h"
#include "image.h"
#include "report.h"
#include "scrub_hidden_colour.h"

namespace {

const char* const tool = "make_examples";

const unsigned side = 96;

void put(Image& image, unsigned x, unsigned y, unsigned char r, unsigned char g, unsigned char b,
         unsigned char a)
{
    unsigned char* p = &image.pixels[(size_t(y) * image.width + x) * 4];
    p[0] = r;
    p[1] = g;
    p[2] = b;
    p[3] = a;
}

void blank(Image& image, unsigned width, unsigned height)
{
    image.width = width;
    image.height = height;
    image.pixels.assign(image.pixelBytes(), 0);
}

// A striped rainbow texture, opaque everywhere.
void drawColour(Image& image)
{
    blank(image, side, side);
    for (unsigned y = 0; y < side; ++y)
        for (unsigned x = 0; x < side; ++x) {
            double t = (x + y) / double(2 * side);
            unsigned char stripe = ((x + 2 * y) / 6) % 2 ? 30 : 0;
            put(image, x, y, static_cast<unsigned char>(225 - 200 * t + stripe),
                static_cast<unsigned char>(60 + 160 * std::sin(3.1416 * t)),
                static_cast<unsigned char>(40 + 200 * t - stripe), 255);
        }
}

// A round sprite off the centre: a dark outline and eyes that the stencil
// paints itself, a light body that lets the colour through, and a
// half-transparent belly.
void drawStencil(Image& image)
{
    blank(image, side, side);
    const double cx = 54, cy = 42, radius = 28;
    for (unsigned y = 0; y < side; ++y)
        for (unsigned x = 0; x < side; ++x) {
            double d = std::hypot(x - cx, y - cy);
            bool eye = std::hypot(x - (cx - 10), y - (cy - 6)) < 4 ||
                       std::hypot(x - (cx + 10), y - (cy - 6)) < 4;
            if (d > radius + 0.5)
                put(image, x, y, 255, 255, 255, 0);
            else if (d > radius - 2.5 || eye)
                put(image, x, y, 12, 8, 20, 255);
            else if (y > cy + 8)
                put(image, x, y, 240, 240, 240, 150);
            else
                put(image, x, y, 255, 255, 255, 255);
        }
}

// A sprite whose invisible pixels still carry colour, as many editors leave
// them: a square of colour of which only a disc is visible.
void drawHidden(Image& image)
{
    blank(image, 48, 48);
    for (unsigned y = 0; y < 48; ++y)
        for (unsigned x = 0; x < 48; ++x) {
            bool visible = std::hypot(x - 23.5, y - 23.5) < 16;
            put(image, x, y, static_cast<unsigned char>(5 * x), 180,
                static_cast<unsigned char>(5 * y), visible ? 255 : 0);
        }
}

// Lays pictures side by side, scaled up, over a checkerboard that shows
// where they are transparent. With showHidden the colour of transparent
// pixels is drawn as if they were opaque.
struct Sheet {
    Image image;
    unsigned scale = 2;
    unsigned gap = 8;
    unsigned cursor = 0;

    Sheet(unsigned pictures, unsigned size)
    {
        blank(image, pictures * (size * scale + gap) + gap, size * scale + 2 * gap);
        for (size_t i = 0; i < image.pixels.size(); ++i)
            image.pixels[i] = 255;
        cursor = gap;
    }

    void add(const Image& picture, unsigned size, bool showHidden = false)
    {
        const unsigned left = cursor + (size - picture.width) * scale / 2;
        const unsigned top = gap + (size - picture.height) * scale / 2;
        for (unsigned y = 0; y < picture.height * scale; ++y)
            for (unsigned x = 0; x < picture.width * scale; ++x) {
                const unsigned char* p =
                    &picture.pixels[(size_t(y / scale) * picture.width + x / scale) * 4];
                unsigned check = ((x / 8 + y / 8) % 2) ? 204 : 245;
                unsigned a = showHidden ? 255 : p[3];
                auto mix = [&](unsigned c) {
                    return static_cast<unsigned char>((c * a + check * (255 - a)) / 255);
                };
                put(image, left + x, top + y, mix(p[0]), mix(p[1]), mix(p[2]), 255);
            }
        cursor += size * scale + gap;
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_examples EXAMPLES_DIR DOCS_DIR\n");
        return 2;
    }
    const std::string examples = std::string(argv[1]) + "/";
    const std::string docs = std::string(argv[2]) + "/";

    Image colour, stencil, result, hidden, scrubbed;
    drawColour(colour);
    drawStencil(stencil);
    drawHidden(hidden);
    drawColour(result);
    applyStencil(result, stencil);
    drawHidden(scrubbed);
    scrubHiddenColour(scrubbed);

    Sheet crop(3, side);
    crop.add(colour, side);
    crop.add(stencil, side);
    crop.add(result, side);

    // As it looks, then with alpha ignored before and after scrubbing.
    Sheet scrub(3, 48);
    scrub.add(hidden, 48);
    scrub.add(hidden, 48, true);
    scrub.add(scrubbed, 48, true);

    const std::pair<Image*, std::string> outputs[] = {
        {&colour, examples + "colour.png"},       {&stencil, examples + "stencil.png"},
        {&hidden, examples + "hidden.png"},       {&crop.image, docs + "stencilcrop.png"},
        {&scrub.image, docs + "scrubhidden.png"},
    };
    bool ok = true;
    for (const auto& output : outputs)
        ok = succeeded(output.first->save(output.second), tool, output.second.c_str()) && ok;
    return ok ? 0 : 1;
}
