#include "process.h"

#include <cstdlib>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "console.h"
#include "command_line.h"
#include "path_windows.h"

namespace {
bool usable(HANDLE handle)
{
    // The C runtime's mark for a stream it found no handle for.
    const HANDLE none = reinterpret_cast<HANDLE>(-2);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && handle != none &&
           (GetFileType(handle) != FILE_TYPE_UNKNOWN || GetLastError() == NO_ERROR);
}

// A parent may start the tool without a standard handle, or with the value of
// one that is not open in this process, which a file opened later could then
// take: what was meant for that stream would be written into the file. Each
// such handle, and the C runtime's stream on it, is bound to the null device
// instead, opened only for reading, so that writing there still fails and a
// list that never arrived does not pass for one that did.
void bindMissingStandardHandles()
{
    const DWORD which[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int stream = 0; stream < 3; ++stream) {
        if (usable(GetStdHandle(which[stream])) &&
            usable(reinterpret_cast<HANDLE>(_get_osfhandle(stream))))
            continue;
        const HANDLE none = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
        const int bound = _open_osfhandle(reinterpret_cast<intptr_t>(none), _O_RDONLY);
        _dup2(bound, stream);
        _close(bound);
        // The stream's own copy, since closing bound closed none.
        SetStdHandle(which[stream], reinterpret_cast<HANDLE>(_get_osfhandle(stream)));
    }
}

// A window that Explorer opened for the tool closes as it ends: it waits
// for a key first, so that what it said can be read.
void waitForKey()
{
    writeText(stdout, "Press a key to close this window.");
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    FlushConsoleInputBuffer(input);
    INPUT_RECORD record;
    DWORD read = 0;
    while (ReadConsoleInputW(input, &record, 1, &read) && read == 1)
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown)
            return;
}
} // namespace

bool asksForHelp(const std::string& arg) { return arg == "/?"; }

std::vector<std::string> startProcess(int, char**)
{
    bindMissingStandardHandles();
    if (ownsConsoleWindow())
        std::atexit(waitForKey);
    return commandLineArguments();
}
