#include "image.h"

#include "file.h"

void Image::load(const char* path)
{
    pixels.clear();
    width = 0;
    height = 0;
    loaded = false;
    failure = Failure();

    std::vector<unsigned char> file;
    failure.systemError = readFile(path, file);
    if (failure.failed())
        return;
    unsigned decodedWidth = 0;
    unsigned decodedHeight = 0;
    // The decoder appends, which is why pixels was emptied above.
    failure.codecError = lodepng::decode(pixels, decodedWidth, decodedHeight, codecState, file);
    if (failure.failed()) {
        pixels.clear();
        return;
    }
    width = decodedWidth;
    height = decodedHeight;
    loaded = true;
}

bool Image::save(const char* path)
{
    failure = Failure();
    std::vector<unsigned char> png;
    // Refuses, with a code of its own, a buffer shorter than the stated size.
    failure.codecError = lodepng::encode(png, pixels, width, height, codecState);
    if (failure.failed())
        return false;
    failure.systemError = replaceFile(path, png);
    return !failure.failed();
}
