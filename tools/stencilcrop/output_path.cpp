#include "output_path.h"

#include <cstring>

std::string outputPath(const char* prefix, const char* stencilPath)
{
    const char* name = stencilPath;
    for (const char* p = stencilPath; *p != '\0'; ++p)
        if (*p == '\\' || *p == '/')
            name = p + 1;
    return std::string(prefix) + name;
}
