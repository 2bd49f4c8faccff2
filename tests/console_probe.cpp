// console_probe COMMAND...: runs COMMAND in a console of its own, which a
// test under wine has not, and prints whether the console's code page was
// the same after it as before, then the text the console showed; its status
// is the command's. It runs itself again inside a pseudo console, and that
// run hands its report out through console.txt in the current folder.
#include <filesystem>
#include <fstream>
#include <iostream>

#include <windows.h>

int main()
{
    const wchar_t* command = GetCommandLineW();
    for (bool quoted = false; *command != L'\0' && (quoted || *command != L' '); ++command)
        quoted ^= *command == L'"';
    const bool inside = GetEnvironmentVariableW(L"CONSOLE_PROBE_INSIDE", nullptr, 0) > 0;
    std::wstring line = inside ? command + 1 : GetCommandLineW();
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE in, unused, out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    HPCON console;
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof startup;
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::string list(size, '\0');
    startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(&list[0]);
    InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size);
    if (!inside && CreatePipe(&in, &unused, nullptr, 0) && CreatePipe(&unused, &out, nullptr, 1 << 20) &&
        CreatePseudoConsole({120, 40}, in, out, 0, &console) == S_OK)
        UpdateProcThreadAttribute(startup.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_PSEUDOCONSOLE, console, sizeof console, nullptr, nullptr);
    SetEnvironmentVariableW(L"CONSOLE_PROBE_INSIDE", L"1");
    // Inside, the command writes to the console through its standard handles.
    startup.StartupInfo.dwFlags = inside ? STARTF_USESTDHANDLES : 0;
    startup.StartupInfo.hStdOutput = startup.StartupInfo.hStdError = out;
    PROCESS_INFORMATION process;
    DWORD status = 255, read = 0;
    const UINT before = GetConsoleOutputCP();
    if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, inside, inside ? 0 : EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr, &startup.StartupInfo, &process))
        WaitForSingleObject(process.hProcess, INFINITE), GetExitCodeProcess(process.hProcess, &status);
    if (!inside) {
        ClosePseudoConsole(console);
        std::cout << std::ifstream("console.txt", std::ios::binary).rdbuf();
        return int(status);
    }
    std::wstring report = GetConsoleOutputCP() == before ? L"code page unchanged\n" : L"code page changed\n";
    CONSOLE_SCREEN_BUFFER_INFO screen;
    GetConsoleScreenBufferInfo(out, &screen);
    for (SHORT y = 0; y < screen.dwCursorPosition.Y + (screen.dwCursorPosition.X > 0); ++y) {
        std::wstring row(size_t(screen.dwSize.X), L' ');
        ReadConsoleOutputCharacterW(out, &row[0], DWORD(row.size()), {0, y}, &read);
        report += row.erase(row.find_last_not_of(L' ') + 1) + L"\n";
    }
    std::ofstream("console.txt", std::ios::binary) << std::filesystem::path(report).u8string();
    return int(status);
}
