#include "console.h"

#include <io.h>
#include <windows.h>

#include "path_windows.h"

void writeText(std::FILE* stream, const std::string& text)
{
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) {
        std::fwrite(text.data(), 1, text.size(), stream);
        return;
    }
    // What the stream holds goes first, so that lines keep their order.
    std::fflush(stream);
    const std::wstring wide = wideText(text);
    size_t done = 0;
    for (DWORD written = 0; done < wide.size(); done += written)
        if (!WriteConsoleW(handle, wide.data() + done, DWORD(wide.size() - done), &written, nullptr) || written == 0)
            break;
    // A console that refuses wide text still gets the rest, and the stream
    // records whether that failed too.
    if (done < wide.size()) {
        const std::string rest = utf8Text(wide.substr(done));
        std::fwrite(rest.data(), 1, rest.size(), stream);
    }
}

bool isTerminal(std::FILE* stream)
{
    DWORD mode = 0;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode) != 0;
}
