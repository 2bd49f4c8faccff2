#pragma once

#include <string>

// Where stencilcrop writes: the prefix followed directly by the stencil's file
// name, which is the text after the last backslash or slash of its path. No
// separator is added, so a prefix meant as a directory ends in one.
std::string outputPath(const char* prefix, const char* stencilPath);
