#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <lodepng.h>

#include "failure.h"
#include "file.h"

// A PNG file decoded to 8-bit RGBA, together with the codec state that
// decoded it. Pixel (x, y) starts at byte (y * width + x) * 4, channels in the
// order R, G, B, A; alpha 0 is fully transparent.
//
// The one codecState serves both directions and its settings are never
// changed: what the decoder kept of the last file loaded (text chunks,
// interlace method, physical size, time and the like) is what save writes
// back, while the encoder picks the colour type from the pixels.
struct Image {
    uint32_t width = 0;
    uint32_t height = 0;
    // May hold more than pixelBytes() after an in-place shrink; only the
    // first pixelBytes() are the image.
    std::vector<unsigned char> pixels;
    lodepng::State codecState;
    bool loaded = false;

    Image() = default;
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    size_t pixelBytes() const { return size_t(width) * height * 4; }

    // Reads the PNG file at path (see readPng) and decodes it. On failure
    // the image is empty and loaded is false. The pixel buffer's capacity
    // is kept, so loading many files into one Image does not reallocate for
    // each.
    Failure load(const std::string& path);

    // Decodes PNG bytes in memory, as load does once the file is read. An
    // animated PNG is refused, since only its first frame would be kept.
    Failure decode(const std::vector<unsigned char>& png);

    // Encodes the first pixelBytes() of pixels into png. First drops from
    // codecState what no longer describes the pixels: significant bits
    // always, a grey ICC profile when a pixel has colour, and the low byte
    // of a 16-bit background colour, as decoding dropped it from the pixels.
    Failure encode(std::vector<unsigned char>& png);

    // Encodes and writes the file at path, replacing any regular file there
    // whole (see writeNewFile); on failure nothing at path has changed.
    Failure save(const std::string& path);
};

// Reads the PNG file open in file into png: the signature and header first,
// and the rest only when they start as a PNG file does, so that a large file
// that is no PNG is refused without being read.
Failure readPng(OpenFile& file, std::vector<unsigned char>& png);
