#include "process.h"

#include <windows.h>

#include <shellapi.h>

#include "file.h"

namespace {
BOOL WINAPI endOnControl(DWORD)
{
    removeTemporaryFiles();
    return FALSE; // and on to the handler that ends the process
}
} // namespace

std::vector<std::string> startProcess(int, char**)
{
    SetConsoleCtrlHandler(endOnControl, TRUE);
    // Messages then show non-ASCII names as typed.
    SetConsoleOutputCP(CP_UTF8);
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 0; wide != nullptr && i < count; ++i) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string argument(size > 0 ? size - 1 : 0, '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, &argument[0], size, nullptr, nullptr);
        arguments.push_back(argument);
    }
    LocalFree(wide);
    return arguments;
}
