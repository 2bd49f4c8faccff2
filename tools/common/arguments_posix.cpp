#include "arguments.h"

std::vector<std::string> commandLine(int argc, char** argv)
{
    return std::vector<std::string>(argv, argv + argc);
}
