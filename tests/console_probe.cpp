// console_probe COMMAND...: runs COMMAND in a console of its own, which a
// test under wine has not, and prints whether the console's code page was
// the same after it as before, then the text the console showed; its status
// is the command's. It runs itself again inside a pseudo console, and that
// run hands its report out through console.txt in the current folder.
// console_probe --own COMMAND...: runs COMMAND as the only process of that
// console, as Explorer starts a program in a window of its own, and prints
// whether it was still running a second later, then the text the console
// showed once keys were pressed.
#include <filesystem>
#include <fstream>
#include <iostream>

#include <windows.h>

int main()
{
    // Wine's console host may hang as it closes when it had to start the
    // desktop itself; started here, the desktop is up before any console.
    GetDesktopWindow();
    const wchar_t* command = GetCommandLineW();
    for (bool quoted = false; *command != L'\0' && (quoted || *command != L' '); ++command)
        quoted ^= *command == L'"';
    const bool inside = GetEnvironmentVariableW(L"CONSOLE_PROBE_INSIDE", nullptr, 0) > 0;
    const bool own = std::wstring(command).rfind(L" --own ", 0) == 0;
    std::wstring line = inside ? command + (own ? 7 : 1) : GetCommandLineW();
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const auto open = [&](const wchar_t* name) {
        return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           &inherit, OPEN_EXISTING, 0, nullptr);
    };
    HANDLE in = open(L"CONIN$"), key, shown, out = open(L"CONOUT$");
    HPCON console;
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof startup;
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::string list(size, '\0');
    startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(&list[0]);
    InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size);
    if (!inside && CreatePipe(&in, &key, nullptr, 0) &&
        CreatePipe(&shown, &out, nullptr, 1 << 20) &&
        CreatePseudoConsole({120, 40}, in, out, 0, &console) == S_OK)
        UpdateProcThreadAttribute(startup.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_PSEUDOCONSOLE,
                                  console, sizeof console, nullptr, nullptr);
    SetEnvironmentVariableW(L"CONSOLE_PROBE_INSIDE", L"1");
    // Inside, the command uses the console through its standard handles.
    startup.StartupInfo.dwFlags = inside ? STARTF_USESTDHANDLES : 0;
    startup.StartupInfo.hStdInput = in;
    startup.StartupInfo.hStdOutput = startup.StartupInfo.hStdError = out;
    PROCESS_INFORMATION process;
    DWORD status = 255, read = 0;
    const UINT before = GetConsoleOutputCP();
    if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, inside,
                       inside ? CREATE_SUSPENDED : EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                       &startup.StartupInfo, &process)) {
        // Left alone in the console, as a program that Explorer started is.
        if (inside && own)
            FreeConsole();
        ResumeThread(process.hThread);
        if (!inside && own)
            std::cout << (WaitForSingleObject(process.hProcess, 1000) == WAIT_TIMEOUT
                              ? "waited for a key\n"
                              : "ended without waiting\n");
        // A key every half second until it ends: one pressed too early may be dropped.
        for (int keys = 0; !inside && own && keys < 20 &&
                           WaitForSingleObject(process.hProcess, 500) == WAIT_TIMEOUT;
             ++keys)
            WriteFile(key, "\r", 1, &read, nullptr);
        WaitForSingleObject(process.hProcess, INFINITE),
            GetExitCodeProcess(process.hProcess, &status);
    }
    if (inside && own)
        return int(status);
    if (!inside) {
        ClosePseudoConsole(console);
        CloseHandle(out);
        std::string text, part(1 << 16, '\0');
        while (own && ReadFile(shown, &part[0], DWORD(part.size()), &read, nullptr) && read > 0)
            text.append(part, 0, read);
        // The text without the escape sequences that draw it, each ended by
        // a byte from @ to ~.
        for (size_t i = 0; i < text.size(); ++i)
            if (text.compare(i, 2, "\x1b[") == 0)
                for (i += 2; i < text.size() && (text[i] < '@' || text[i] > '~'); ++i) { }
            else if (text[i] != '\r')
                std::cout << text[i];
        if (!own)
            std::cout << std::ifstream("console.txt", std::ios::binary).rdbuf();
        std::cout << (own ? "\n" : "");
        return int(status);
    }
    std::wstring report =
        GetConsoleOutputCP() == before ? L"code page unchanged\n" : L"code page changed\n";
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
