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

    Image() = default;
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    // The bytes of the pixels of an image this size, four a pixel.
    static size_t pixelBytesOf(size_t width, size_t height) { return width * height * 4; }
    size_t pixelBytes() const { return pixelBytesOf(width, height); }

    // Reads the PNG file at path (see readPng) and decodes it, unless its
    // need (see pngNeed) is more than limit. On failure the image is empty.
    // The pixel buffer's capacity is kept, so loading many files into one
    // Image does not reallocate for each. need, where given, is set to the
    // file's need once known.
    Failure load(const std::string& path, uint64_t limit = UINT64_MAX, bool encoding = false,
                 uint64_t* need = nullptr);

    // Decodes PNG bytes in memory, as load does once the file is read. An
    // animated PNG is refused, since only its first frame would be kept. On
    // failure the image is empty, and codecState holds what the decoder
    // had read of the file.
    Failure decode(const std::vector<unsigned char>& png);

    // Encodes the first pixelBytes() of pixels into png. First drops from
    // codecState what no longer describes the pixels: significant bits
    // always, a grey ICC profile when a pixel has colour, and the low byte
    // of a 16-bit background colour, as decoding dropped it from the pixels.
    // On failure png is empty.
    Failure encode(std::vector<unsigned char>& png);

    // Empties the image and lets go of what the last file left that the next
    // would not use: a pixel buffer of more than keep bytes, and what the
    // codec kept of the file (its text and profile above all), so that an
    // image kept for the next file holds nothing large meanwhile.
    void release(size_t keep);

    // Encodes and writes the file at path, replacing any regular file there
    // whole (see writeNewFile); on failure nothing at path has changed.
    Failure save(const std::string& path);
};

// Reads the PNG file open in file into png: the signature and header first,
// and the rest only when they start as a PNG file does, so that a large file
// that is no PNG is refused without being read. A file longer than limit is
// refused as soon as that is known: a regular file at once, a stream once
// that much of it is read. On failure png is empty or holds part of the
// file, of no use.
Failure readPng(OpenFile& file, std::vector<unsigned char>& png, uint64_t limit = UINT64_MAX);

// The memory that handling a PNG file may take, in bytes, known before it is
// decoded: the file, the pixels decoded from it and what decoding needs
// beside them, with encoding what encoding them again needs too, and what
// its compressed text and profile chunks may inflate to, within the codec's
// limits for each. A file that is no PNG needs its own size. pngNeed works
// on the file in memory; measurePng on the regular file open in file,
// reading only its header and the lengths of its chunks; where a read fails,
// need is what the bytes read before it tell.
uint64_t pngNeed(const std::vector<unsigned char>& png, bool encoding);
Failure measurePng(const OpenFile& file, bool encoding, uint64_t& need);

// The bytes that the image data of an image of this size and these bits a
// pixel inflate to: each row with its filter byte, and when interlaced each
// row of each of the seven passes, which are empty where the image is too
// small for them.
double imageDataSize(double width, double height, double bits, bool interlaced);
