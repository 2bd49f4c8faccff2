#include "output_path.h"

#include "command_line.h"

std::string outputPath(const std::string& prefix, const std::string& stencilPath)
{
    return prefix + stencilPath.substr(fileNameStart(stencilPath));
}
