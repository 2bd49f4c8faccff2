// The codec work of one stencilcrop run and nothing else, as the yardstick
// of the benchmark: read and decode both files, encode the first, write it.
// No checks, no stencil, no safe write.
//
//   bare_stencilcrop COLOUR STENCIL PREFIX
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
    std::vector<unsigned char> png;
    lodepng::encode(png, colour, width, height, colourState);
    const char* name = std::strrchr(argv[2], '/');
    lodepng::save_file(png, std::string(argv[3]) + (name ? name + 1 : argv[2]));
    return 0;
}
