#include "report.h"

#include <cstdio>

void reportFailure(const char* tool, const char* path, const std::string& reason)
{
    std::fprintf(stderr, "%s: %s: %s\n", tool, path, reason.c_str());
}

bool loadOrReport(Image& image, const char* tool, const char* path)
{
    image.load(path);
    if (!image.loaded)
        reportFailure(tool, path, image.failure.reason());
    return image.loaded;
}

bool saveOrReport(Image& image, const char* tool, const char* path)
{
    const bool saved = image.save(path);
    if (!saved)
        reportFailure(tool, path, image.failure.reason());
    return saved;
}
