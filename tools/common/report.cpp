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

bool standardOutputWritten(const char* tool)
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return true;
    reportFailure(tool, "standard output", std::strerror(errno));
    return false;
}

bool succeededElseReported(const Failure& failure, const char* tool, const char* path)
{
    if (failure.failed())
        reportFailure(tool, path, failure.reason());
    return !failure.failed();
}
