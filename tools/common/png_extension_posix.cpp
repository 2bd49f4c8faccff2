#include "png_extension.h"

#include <cstring>

bool hasPngExtension(const char* path)
{
    const char* dot = std::strrchr(path, '.');
    return dot != nullptr && std::strcmp(dot, ".png") == 0;
}

bool isPngName(const std::string& name)
{
    return name.size() >= 4 && name.compare(name.size() - 4, 4, ".png") == 0;
}
