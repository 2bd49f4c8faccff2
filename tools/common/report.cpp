#include "report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "console.h"
#include "quote.h"

void reportFailure(const char* tool, const char* path, const std::string& reason)
{
    writeText(stderr, std::string(tool) + ": " + quotedName(path) + ": " + reason + "\n");
}

namespace {
// Reports why the image's last operation on path failed, unless it
// succeeded; returns succeeded.
bool reportUnless(bool succeeded, const Image& image, const char* tool, const char* path)
{
    if (!succeeded)
        reportFailure(tool, path, image.failure.reason());
    return succeeded;
}
} // namespace

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
