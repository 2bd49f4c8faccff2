#include "scrub_hidden_colour.h"

#include <algorithm>

bool scrubHiddenColour(Image& image)
{
    bool changed = false;
    const size_t bytes = std::min(image.pixelBytes(), image.pixels.size() / 4 * 4);
    for (size_t o = 0; o < bytes; o += 4) {
        unsigned char* p = &image.pixels[o];
        if (p[3] == 0 && (p[0] != 0 || p[1] != 0 || p[2] != 0)) {
            p[0] = 0;
            p[1] = 0;
            p[2] = 0;
            changed = true;
        }
    }
    return changed;
}
