// The codec work of one scrubhidden run and nothing else, as the yardstick
// of the benchmark: read and decode each file and, when a transparent pixel
// has colour, clear it, encode and write the file back. No checks of names
// or errors, no safe write.
//
//   bare_scrubhidden FILE...
#include <lodepng.h>

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        lodepng::State state;
        std::vector<unsigned char> file;
        std::vector<unsigned char> pixels;
        unsigned width = 0;
        unsigned height = 0;
        lodepng::load_file(file, argv[i]);
        lodepng::decode(pixels, width, height, state, file);
        bool changed = false;
        for (size_t o = 0; o < pixels.size(); o += 4)
            if (pixels[o + 3] == 0 && (pixels[o] | pixels[o + 1] | pixels[o + 2]) != 0) {
                pixels[o] = pixels[o + 1] = pixels[o + 2] = 0;
                changed = true;
            }
        if (changed) {
            std::vector<unsigned char> png;
            lodepng::encode(png, pixels, width, height, state);
            lodepng::save_file(png, argv[i]);
        }
    }
    return 0;
}
