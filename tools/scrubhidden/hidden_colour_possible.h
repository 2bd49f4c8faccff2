#pragma once

#include <vector>

// Whether a pixel of the PNG file in png may decode to alpha 0 with a colour
// other than black, judged from its chunks without inflating the image data.
// False only when the file is sound to the last chunk checksum and its header
// proves that no pixel can hide colour: grey or RGB without a transparency
// chunk or with a key that decodes to black, or a palette whose fully
// transparent entries are all black. Everything else, including any damage
// and animation, is left to a full decode to judge and report. A compressed
// stream that is wrong although its checksums are right goes unnoticed here.
bool mayHoldHiddenColour(const std::vector<unsigned char>& png);
