#pragma once

#include <cstddef>
#include <cstdint>
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
    // Why the last operation on a file failed.
    Failure failure;
    // The file that the last read found, for rewrite.
    SourceFile source;

    Image() = default;
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    size_t pixelBytes() const { return size_t(width) * height * 4; }

    // Decodes the file at path. On failure the image is empty, loaded is
    // false and failure says why. The pixel buffer's capacity is kept, so
    // loading many files into one Image does not reallocate for each.
    void load(const char* path);

    // Finds the file at path, to be read, decoded and then rewritten, and
    // reads the regular file found into png, keeping in source what rewrite
    // needs. Both return false, with failure set and the image emptied, when
    // they cannot.
    bool find(const char* path);
    bool read(std::vector<unsigned char>& png);

    // What load does once the file is read: decodes PNG bytes in memory. An
    // animated PNG is refused, since only its first frame would be kept.
    void decode(const std::vector<unsigned char>& png);

    // Encodes the first pixelBytes() of pixels and writes them as the file at
    // path, replacing any regular file there whole (see writeNewFile).
    // Returns false, with failure set and nothing at path changed, when
    // encoding or writing fails.
    bool save(const char* path);

    // The same for the file that read found, which is replaced only while it
    // is that very file, unchanged since (see beginRewrite).
    bool rewrite();

    // The first half of rewrite, to be finished with finish(replacement),
    // perhaps on another thread while this image goes on with other work.
    bool beginRewrite(Replacement& replacement);

    // What save does before writing: encodes into png in memory. Returns
    // false, with failure set, when the codec refuses. First drops from
    // codecState what no longer describes the pixels: significant bits
    // always, a grey ICC profile when a pixel has colour, and the low byte
    // of a 16-bit background colour, as decoding dropped it from the pixels.
    bool encode(std::vector<unsigned char>& png);
};
