#pragma once

// One fuzz input carries two files: two bytes giving the length of the first
// (little-endian, cut to what is there), the first file, then the second.

#include <cstddef>
#include <cstdint>
#include <vector>

inline void splitPair(const uint8_t* data, size_t size, std::vector<unsigned char>& first,
                      std::vector<unsigned char>& second)
{
    first.clear();
    second.clear();
    if (size < 2)
        return;
    size_t length = data[0] | size_t(data[1]) << 8;
    if (length > size - 2)
        length = size - 2;
    first.assign(data + 2, data + 2 + length);
    second.assign(data + 2 + length, data + size);
}

inline std::vector<unsigned char> joinPair(const std::vector<unsigned char>& first,
                                           const std::vector<unsigned char>& second)
{
    std::vector<unsigned char> joined = {static_cast<unsigned char>(first.size()),
                                         static_cast<unsigned char>(first.size() >> 8)};
    joined.insert(joined.end(), first.begin(), first.end());
    joined.insert(joined.end(), second.begin(), second.end());
    return joined;
}
