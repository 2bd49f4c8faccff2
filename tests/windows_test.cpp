// What Windows does its own way, through the built programs run by cmd.exe
// as a user runs them: each row fills a folder of its own, runs one command
// line there and compares the status, both outputs and the files left; and
// what the zip gives a Windows user.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include <gtest/gtest.h>
#include <lodepng.h>
#include <windows.h>

namespace fs = std::filesystem;

// The compiler that built this, which built the programs too.
#define DIGITS(n) #n
#define NUMBER(n) DIGITS(n)
#define GCC_MAJOR NUMBER(__GNUC__)

namespace {
const std::string hidden = "basn6a08.png", clean = "basn0g08.png", stencil = "basn4a08.png";
const std::string usageCrop = "usage: stencilcrop [--box] [--memory SIZE] COLOUR STENCIL PREFIX\n";
const std::string usageScrub =
    "usage: scrubhidden [--check] [-z] [-r] [-j N] [--memory SIZE] FILE...\n";
const std::string inUse = "scrubhidden: a.png: in use by another program\n";
// Folders deep enough to make a path of over 300 characters.
const std::string folder = std::string(60, 'f') + "\\";
const std::string deep = folder + folder + folder + folder + folder;
// What another program does to a row's first file while the command runs:
// holds it sharing nothing, for good or, briefly, for half a second.
enum Hold { none, exclusive, briefly };

// A file of a row: a copy of a corpus file, "text:" and some text, or, with
// nothing, a folder.
struct File {
    std::string name, from = {};
    DWORD attributes = 0;
    std::string before = {};
};

// In the command @D stands for the drive and @S for the short name of the
// last file; written are the files new or changed, and every other file
// stays as it was, its name too.
struct Row {
    const char* name;
    std::vector<File> files;
    std::string command;
    int status;
    std::string out, err;
    std::vector<std::string> written = {};
    Hold hold = none;
};

std::string bytesOf(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void replaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
}

using CommandLine = ::testing::TestWithParam<Row>;

TEST_P(CommandLine, Runs)
{
    Row row = GetParam();
    // A folder of each run's own, never one an earlier run left, since wine
    // gives processes the same numbers again: one that a broken tool left a
    // name in that wine cannot map back would hang its removal.
    static const std::string run =
        std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64());
    const fs::path dir = fs::temp_directory_path() / ("pngtools-" + run + "-" + row.name);
    // Names as the folder lists them, such as "aux.png" or "x.png.", which
    // only the \\?\ form reaches.
    const auto exact = [&](const std::string& name) {
        return fs::path(L"\\\\?\\" + (dir / fs::u8path(name)).wstring());
    };
    fs::create_directories(dir);
    for (File& file : row.files) {
        const fs::path path = dir / fs::u8path(file.name);
        fs::create_directories(file.from.empty() ? path : path.parent_path());
        const bool text = file.from.rfind("text:", 0) == 0;
        if (!file.from.empty())
            std::ofstream(exact(file.name), std::ios::binary)
                << (text ? file.from.substr(5) : bytesOf(fs::u8path(CORPUS_DIR "/" + file.from)));
        if (file.attributes != 0)
            SetFileAttributesW(path.c_str(), file.attributes);
        file.before = bytesOf(exact(file.name));
    }
    replaceAll(row.command, "@D", dir.root_name().u8string());
    wchar_t shortName[MAX_PATH] = L"";
    GetShortPathNameW(exact(row.files.back().name).c_str(), shortName, MAX_PATH);
    replaceAll(row.command, "@S", fs::path(shortName).filename().u8string());
    replaceAll(row.out, "\n", "\r\n"), replaceAll(row.err, "\n", "\r\n");

    const fs::path first = dir / fs::u8path(row.files[0].name);
    const HANDLE held = row.hold == none ? INVALID_HANDLE_VALUE
                                         : CreateFileW(first.c_str(), GENERIC_READ, 0, nullptr,
                                                       OPEN_EXISTING, 0, nullptr);
    wchar_t device[MAX_PATH];
    if (row.err.find("is a device") != std::string::npos &&
        GetFullPathNameW(L"aux.png", MAX_PATH, device, nullptr) > 0 && device[1] != L'\\')
        GTEST_SKIP() << row.name
                     << ": this system maps no name with an extension to a device (Windows 11)";
    std::thread release([&] {
        if (row.hold == briefly)
            Sleep(500), CloseHandle(held);
    });
    const int status = _wsystem((L"set \"PATH=" + fs::u8path(BIN_DIR).make_preferred().wstring() +
                                 L";%PATH%\" && cd /d \"" + dir.wstring() + L"\" && cmd /s /c \"" +
                                 fs::u8path(row.command).wstring() + L"\" >out.txt 2>err.txt")
                                    .c_str());
    release.join();
    if (row.hold != briefly)
        CloseHandle(held);

    EXPECT_EQ(status, row.status) << row.name;
    EXPECT_EQ(bytesOf(dir / "out.txt"), row.out) << row.name;
    EXPECT_EQ(bytesOf(dir / "err.txt"), row.err) << row.name;
    for (const File& file : row.files) {
        const bool written = std::count(row.written.begin(), row.written.end(), file.name) > 0;
        // Attributes given are kept; the archive mark is set on any file
        // written, as Windows does.
        const DWORD attributes = GetFileAttributesW(exact(file.name).c_str());
        EXPECT_EQ(file.attributes ? attributes & ~DWORD(FILE_ATTRIBUTE_ARCHIVE) : 0,
                  file.attributes)
            << row.name << ": " << file.name;
        if ((file.before != bytesOf(exact(file.name))) != written)
            ADD_FAILURE() << row.name << ": " << file.name
                          << (written ? " not written" : " changed");
    }
    for (const std::string& name : row.written)
        EXPECT_EQ(GetFileAttributesW(exact(name).c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u)
            << row.name << ": " << name << " missing";
    // Each name as the folder holds it, its case included.
    std::set<std::string> names = {"err.txt", "out.txt"}, listed;
    for (const File& file : row.files)
        names.insert(file.name.substr(0, file.name.find('\\')));
    for (const std::string& name : row.written)
        names.insert(name.substr(0, name.find('\\')));
    for (const auto& entry : fs::directory_iterator(L"\\\\?\\" + dir.wstring()))
        listed.insert(entry.path().filename().u8string());
    EXPECT_EQ(listed, names) << row.name << ": the names in the folder";
}

// Each row in two to four lines: its name and files, the command, the status,
// both outputs, the files written and what holds the first file.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Windows, CommandLine, ::testing::ValuesIn(std::vector<Row>{
    // A folder on the way that is not there; the line of --box, unquoted.
    {"NamesBeyondAnsi",
        {{u8"цвет.png", hidden}, {u8"трафарет.png", stencil}, {u8"выход"}},
        u8"stencilcrop цвет.png нет\\..\\трафарет.png выход\\ && "
        u8"stencilcrop --box цвет.png трафарет.png выход\\в-",
        0, u8"1 0 31 32 32 32 выход\\в-трафарет.png\n", "",
        {u8"выход\\трафарет.png", u8"выход\\в-трафарет.png"}},
    {"ReadOnlyRefusedHiddenKept", {{u8"цвет.png", hidden, FILE_ATTRIBUTE_HIDDEN},
        {u8"только.png", hidden, FILE_ATTRIBUTE_READONLY}},
        u8"scrubhidden цвет.png только.png", 1, "",
        u8"scrubhidden: только.png: Permission denied\n", {u8"цвет.png"}},
    // Sorted whatever the case, in a folder, "?" for one character; one
    // quoted or matching nothing kept as a name.
    {"Wildcards", {{"b.png", hidden}, {"A.PNG", hidden}, {"c.Png", hidden}, {"d.png", clean},
        {"e.txt", hidden}, {"ab.png", hidden}, {"in\\x y.png", hidden}, {"in\\z.png", clean},
        {u8"😀.png", hidden}}, "scrubhidden --check *.png & scrubhidden --check in\\*.png"
        " & scrubhidden \"*.png\" none*.png & scrubhidden ?.png", 0,
        u8"A.PNG\nab.png\nb.png\nc.Png\n😀.png\nin\\x y.png\n",
        "scrubhidden: *.png: File not found.\nscrubhidden: none*.png: File not found.\n",
        {"A.PNG", "b.png", "c.Png", u8"😀.png"}},
    {"PngInAnyCaseAndTrailingDots", {{"C.PNG", hidden}, {"d.Png", hidden}, {"a.png", hidden},
        {"b.png", hidden}}, "scrubhidden --check C.PNG d.Png & scrubhidden \"a.png.\" \"b.png \"",
        0, "C.PNG\nd.Png\n", "", {"a.png", "b.png"}},
    {"PathOverThreeHundredCharacters", {{deep + "a.png", hidden}, {deep + "s.png", stencil}},
        "scrubhidden " + deep + "a.png && stencilcrop --box " + deep + "a.png " + deep + "s.png "
        + deep + "o-", 0, "1 0 31 32 32 32 " + deep + "o-s.png\n", "",
        {deep + "a.png", deep + "o-s.png"}},
    // A tree walked in the order of its paths, past 260 characters, its
    // extensions in any case; names listed in a file, read from standard input.
    {"Trees", {{deep + "a.png", hidden}, {"t\\B.PNG", hidden}, {"t\\c.Png", clean},
        {"t\\in\\d.png", hidden}, {"t\\e.txt", hidden},
        {"list.bin", std::string("text:t\\B.PNG\0t\\e.txt\0", 21)}},
        "scrubhidden --check -r t " + folder + " & scrubhidden --check --files0-from=- <list.bin"
        " & scrubhidden /r t " + folder, 0, "t\\B.PNG\nt\\in\\d.png\n" + deep + "a.png\nt\\B.PNG\n",
        "", {deep + "a.png", "t\\B.PNG", "t\\in\\d.png"}},
    {"FolderNamedPng", {{"x.png"}, {"o-s.png"}, {"c.png", hidden}, {"s.png", stencil}},
        "stencilcrop x.png x.png o- & stencilcrop c.png s.png o-", 1, "",
        "stencilcrop: x.png: is a folder\nstencilcrop: x.png: is a folder\n"
        "stencilcrop: o-s.png: is a folder\n"},
    // A file keeps the name its folder holds for it, whatever case or short
    // name was typed; one file typed twice is one file.
    {"OwnNameKept",
        {{"hero sprite.png", hidden}, {"h.png", hidden}, {"long name image.png", hidden}},
        "scrubhidden \"HERO SPRITE.PNG\" h.png H.PNG @S", 0, "", "",
        {"hero sprite.png", "h.png", "long name image.png"}},
    {"HeldSharingNothing", {{"a.png", hidden}}, "scrubhidden a.png", 1, "", inUse, {}, exclusive},
    {"HeldForAMoment", {{"a.png", hidden}}, "scrubhidden a.png", 0, "", "", {"a.png"}, briefly},
    // Options as Windows' own commands take them, in any case but for a
    // value joined by "=", and /? for help, which handles no file; those
    // with "--" keep their case, and an unknown option is refused before
    // anything is read.
    {"SlashOptions", {{"a.png", hidden}, {"s.png", stencil}, {"o"}},
        "stencilcrop /? >help.txt && scrubhidden a.png /HELP >>help.txt"
        " && find \"usage:\" <help.txt & scrubhidden /chek a.png & scrubhidden /Check /J 2 a.png"
        " & scrubhidden /j2 /CHECK a.png & stencilcrop /BOX a.png s.png o\\"
        " & scrubhidden /Files0-From=Names.txt & scrubhidden --CHECK a.png", 2,
        usageCrop + usageScrub + "a.png\na.png\n1 0 31 32 32 32 o\\s.png\n",
        "scrubhidden: unknown option: /chek\n" + usageScrub +
        "scrubhidden: Names.txt: File not found.\n"
        "scrubhidden: unknown option: --CHECK\n" + usageScrub, {"o\\s.png", "help.txt"}},
    // A wildcard that matched several files would shift stencilcrop's
    // operands; one that matches one file names it. A stencil on a drive
    // without a folder is named by what follows the colon.
    {"StencilcropOperands", {{"c1.png", hidden}, {"c2.png", hidden}, {"s.png", stencil}, {"o"}},
        "stencilcrop c*.png s.png o- & stencilcrop c1*.png s*.png o-"
        " & stencilcrop c1.png @Ds.png o\\", 0, "",
        "stencilcrop: c*.png: the wildcard matches several files\n" + usageCrop,
        {"o-s.png", "o\\s.png"}},
    // Names that a wildcard found are reached as listed, even those of
    // devices or with trailing dots or spaces.
    {"NamesAsFound", {{"aux.png", hidden}, {"CON.png", hidden}, {"x.png.", hidden},
        {"y.png ", hidden}}, "scrubhidden --check *.png & scrubhidden *.png", 0,
        "aux.png\nCON.png\nx.png.\ny.png \n", "", {"aux.png", "CON.png", "x.png.", "y.png "}},
    {"TypedDeviceNames", {{"x.png", hidden}},
        "scrubhidden aux.png x.png & stencilcrop x.png nul.png o-", 1, "",
        "scrubhidden: aux.png: is a device\nstencilcrop: nul.png: is a device\n", {"x.png"}},
    // Each line is out as it is written, so that both streams keep their
    // order in one file.
    {"LinesInOrder", {{"a.png", hidden}, {"t.png", "text:hello"}, {"b.png", hidden}},
        "scrubhidden --check a.png t.png b.png 2>&1", 2,
        "a.png\nscrubhidden: t.png: not a PNG file\nb.png\n", ""},
}), [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });
// clang-format on

// A tool killed while it waits in its last look at the file it replaces
// leaves no new file: that is deleted as its handle closes, from the moment
// it is made until just before it is moved into place. The wait comes of
// the old file being held by another program that does not let it be
// replaced, from the moment the new one is seen.
TEST(Killed, LeavesNoTemporaryFile)
{
    const fs::path dir = fs::temp_directory_path() / "pngtools-killed";
    std::error_code error;
    fs::remove_all(dir, error);
    fs::create_directories(dir);
    // Noise, some of it hidden behind alpha 0, makes a rewrite of megabytes
    // that takes a while to write.
    std::vector<unsigned char> pixels(size_t(2048) * 2048 * 4);
    for (uint32_t i = 0, x = 1; i < pixels.size(); ++i)
        pixels[i] = (x = x * 1103515245 + 12345) >> 24;
    ASSERT_EQ(lodepng::encode((dir / "big.png").string(), pixels, 2048, 2048), 0u);
    const std::string before = bytesOf(dir / "big.png");
    std::wstring line = fs::u8path(BIN_DIR "/scrubhidden.exe").wstring() + L" big.png";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, DETACHED_PROCESS,
                               nullptr, dir.c_str(), &startup, &process));
    WIN32_FIND_DATAW entry;
    HANDLE found = INVALID_HANDLE_VALUE;
    while (found == INVALID_HANDLE_VALUE &&
           WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT)
        found = FindFirstFileW((dir / ".big.png.*").c_str(), &entry);
    FindClose(found);
    const HANDLE held = CreateFileW((dir / "big.png").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    Sleep(500);
    TerminateProcess(process.hProcess, 9);
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(held);
    if (found == INVALID_HANDLE_VALUE)
        GTEST_SKIP() << "the new file was never seen before the tool ended";
    EXPECT_EQ(FindFirstFileW((dir / ".big.png.*").c_str(), &entry), INVALID_HANDLE_VALUE)
        << "a temporary file was left";
    EXPECT_TRUE(bytesOf(dir / "big.png") == before) << "big.png changed";
}

// Text files in UTF-8 with a byte-order mark, every line ended in CRLF, the
// licences each of its own, and the manuals and README no advice for Linux
// only.
using ZipText = ::testing::TestWithParam<std::pair<const char*, const char*>>;

TEST_P(ZipText, IsWindowsText)
{
    const std::string text = bytesOf(fs::u8path(UNPACKED_DIR) / GetParam().first);
    EXPECT_NE(text.find(GetParam().second), std::string::npos) << GetParam().first;
    EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF") << GetParam().first << " has no byte-order mark";
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'),
              std::count(text.begin(), text.end(), '\r'))
        << GetParam().first;
    for (const char* linuxOnly : {"/dev/stdin", "umask", "fs.protected", "-exec", "case-sensitive",
                                  "xargs", "read -r", "diff(1)", "No such file", "/usr/share"})
        EXPECT_TRUE((std::string(GetParam().first).rfind("LICENSE", 0) == 0 &&
                     std::string(linuxOnly) != "/usr/share") ||
                    text.find(linuxOnly) == std::string::npos)
            << GetParam().first << ": " << linuxOnly;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Windows, ZipText, ::testing::Values(
    std::pair("README.txt", "scrubhidden"), std::pair("stencilcrop.txt", "stencilcrop"),
    std::pair("scrubhidden.txt", "scrubhidden"), std::pair("LICENSE.txt", "MIT License"),
    std::pair("LICENSE-LodePNG.txt", "Lode Vandevenne"),
    std::pair("LICENSE-mingw-w64.txt", "winpthreads"),
    std::pair("LICENSE-GCC-runtime.txt", "GCC RUNTIME LIBRARY EXCEPTION"),
    std::pair("LICENSE-GCC-runtime.txt", "link in GCC " GCC_MAJOR "."),
    std::pair("LICENSE-GPL-3.txt", "Version 3, 29 June 2007"),
    std::pair("LICENSE-GPL-2.txt", "Version 2, June 1991"),
    std::pair("LICENSE-LGPL-2.1.txt", "Version 2.1, February 1999")));
// clang-format on
} // namespace
