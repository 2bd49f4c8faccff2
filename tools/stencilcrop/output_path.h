#pragma once

#include <string>

// Where stencilcrop writes: the prefix followed directly by the stencil's file
// name, which is the text after the last backslash or slash of its path and,
// on Windows, after a drive's colon ("C:s.png"). No separator is added, so a
// prefix meant as a directory ends in one.
std::string outputPath(const std::string& prefix, const std::string& stencilPath);
