#include "report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "quote.h"

void reportFailure(const char* tool, const char* path, const std::string& reason)
{
    std::fprintf(stderr, "%s: %s: %s\n", tool, quotedName(path).c_str(), reason.c_str());
}

bool reportUnless(bool succeeded, const Image& image, const char* tool, const char* path)
{
    if (!succeeded)
        reportFailure(tool, path, image.failure.reason());
    return succeeded;
}

bool standardOutputWritten(const char* tool)
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return true;
    reportFailure(tool, "standard output", std::strerror(errno));
    return false;
}

bool loadOrReport(Image& image, const char* tool, const char* path)
{
    image.load(path);
    return reportUnless(image.loaded, image, tool, path);
}

bool saveOrReport(Image& image, const char* tool, const char* path)
{
    return reportUnless(image.save(path), image, tool, path);
}
