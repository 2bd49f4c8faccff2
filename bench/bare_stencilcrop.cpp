// The work of one stencilcrop run with nothing around it, as the yardstick
// of the benchmark: read and decode both files, apply the stencil and crop
// in the plainest way, encode and write. No checks of sizes or errors, no
// safe write.
//
//   bare_stencilcrop COLOUR STENCIL PREFIX
#include <algorithm>
#include <cstring>
#include <string>

#include <lodepng.h>

int main(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    lodepng::State colourState;
    lodepng::State stencilState;
    std::vector<unsigned char> file;
    std::vector<unsigned char> colour;
    std::vector<unsigned char> stencil;
    unsigned width = 0;
    unsigned height = 0;
    lodepng::load_file(file, argv[1]);
    lodepng::decode(colour, width, height, colourState, file);
    file.clear();
    lodepng::load_file(file, argv[2]);
    lodepng::decode(stencil, width, height, stencilState, file);
    file.clear();

    size_t minX = width, minY = height, maxX = 0, maxY = 0;
    for (size_t y = 0; y < height; ++y)
        for (size_t x = 0; x < width; ++x) {
            unsigned char* c = &colour[(y * width + x) * 4];
            const unsigned char* s = &stencil[(y * width + x) * 4];
            if (s[3] == 0) {
                std::memset(c, 0, 4);
                continue;
            }
            if (s[0] < 30 && s[1] < 30 && s[2] < 30)
                std::memcpy(c, s, 4);
            else
                c[3] = s[3];
            minX = std::min(minX, x), maxX = std::max(maxX, x);
            minY = std::min(minY, y), maxY = std::max(maxY, y);
        }
    std::vector<unsigned char> cropped;
    for (size_t y = minY; y <= maxY; ++y)
        cropped.insert(cropped.end(), &colour[(y * width + minX) * 4],
                       &colour[(y * width + maxX + 1) * 4]);

    std::vector<unsigned char> png;
    lodepng::encode(png, cropped, unsigned(maxX - minX + 1), unsigned(maxY - minY + 1),
                    colourState);
    const char* name = std::strrchr(argv[2], '/');
    lodepng::save_file(png, std::string(argv[3]) + (name ? name + 1 : argv[2]));
    return 0;
}
