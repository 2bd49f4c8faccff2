#include "image.h"

#include "file.h"

namespace {
void clear(Image& image)
{
    image.pixels.clear();
    image.width = 0;
    image.height = 0;
    image.loaded = false;
}
} // namespace

void Image::load(const char* path)
{
    std::vector<unsigned char> file;
    const int readError = readFile(path, file);
    if (readError == 0) {
        decode(file);
        return;
    }
    clear(*this);
    failure = Failure();
    failure.systemError = readError;
}

void Image::decode(const std::vector<unsigned char>& png)
{
    clear(*this);
    failure = Failure();
    unsigned decodedWidth = 0;
    unsigned decodedHeight = 0;
    // The buffer is kept for files of the same size or smaller, but not
    // alongside a larger one: holding both would only raise the peak.
    if (lodepng_inspect(&decodedWidth, &decodedHeight, &codecState, png.data(), png.size()) == 0 &&
        size_t(decodedWidth) * decodedHeight * 4 > pixels.capacity())
        std::vector<unsigned char>().swap(pixels);
    // The decoder appends, which is why pixels was emptied above.
    failure.codecError = lodepng::decode(pixels, decodedWidth, decodedHeight, codecState, png);
    if (failure.failed()) {
        pixels.clear();
        return;
    }
    width = decodedWidth;
    height = decodedHeight;
    loaded = true;
}

bool Image::encode(std::vector<unsigned char>& png)
{
    failure = Failure();
    png.clear();
    // Refuses, with a code of its own, a buffer shorter than the stated size.
    failure.codecError = lodepng::encode(png, pixels, width, height, codecState);
    return !failure.failed();
}

bool Image::save(const char* path)
{
    std::vector<unsigned char> png;
    if (!encode(png))
        return false;
    failure.systemError = replaceFile(path, png);
    return !failure.failed();
}
