#include "png_extension.h"

#include <cstring>

bool hasPngExtension(const char* path)
{
    const char* dot = std::strrchr(path, '.');
    return dot != nullptr && std::strcmp(dot, ".png") == 0;
}
