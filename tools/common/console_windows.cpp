#include "console.h"

#include <io.h>
#include <windows.h>

#include "path_windows.h"

void writeText(std::FILE* stream, const std::string& text)
{
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    std::string rest = text;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        const std::wstring wide = wideText(text);
        size_t done = 0;
        for (DWORD written = 0; done < wide.size(); done += written)
            if (!WriteConsoleW(handle, wide.data() + done, DWORD(wide.size() - done), &written,
                               nullptr) ||
                written == 0)
                break;
        // A console that refuses wide text still gets the rest, and the
        // stream records whether that failed too.
        rest = utf8Text(wide.substr(done));
    }
    std::fwrite(rest.data(), 1, rest.size(), stream);
    std::fflush(stream);
}

bool ownsConsoleWindow()
{
    static const bool owned = [] {
        DWORD processes[2];
        DWORD mode = 0;
        for (const DWORD stream : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE})
            if (!GetConsoleMode(GetStdHandle(stream), &mode))
                return false;
        // A program started hidden (CREATE_NO_WINDOW) or where nobody sees
        // the screen, as a service, has nobody to press a key.
        USEROBJECTFLAGS station = {};
        return GetConsoleProcessList(processes, 2) == 1 && GetConsoleWindow() != nullptr &&
               GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &station,
                                         sizeof station, nullptr) &&
               (station.dwFlags & WSF_VISIBLE) != 0;
    }();
    return owned;
}

bool isTerminal(std::FILE* stream)
{
    DWORD mode = 0;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode) != 0;
}
