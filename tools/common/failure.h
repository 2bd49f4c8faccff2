#pragma once

#include <string>

// A code of this system's own among the codec's, whose codes stay below
// 1000: the file is an animated PNG, of which only the first frame would
// survive.
const unsigned animatedImage = 1000;

// Why reading, decoding, encoding or writing a file failed. At most one of the
// two is set; both are empty when nothing failed.
struct Failure {
    std::string fileError;   // the file layer's words for what failed
    unsigned codecError = 0; // LodePNG's error code

    bool failed() const { return !fileError.empty() || codecError != 0; }
    std::string reason() const;
};
