// What Windows does its own way, through the built programs: names outside
// the ANSI code page, backslash paths and read-only files.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <windows.h>

TEST(Windows, NamesPathsAndReadOnlyFiles)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / L"pngtools-прозрачность";
    SetFileAttributesW((dir / L"только.png").c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(dir);
    fs::create_directories(dir / L"выход");
    fs::copy_file(fs::u8path(CORPUS_DIR "/basn6a08.png"), dir / L"цвет.png");
    fs::copy_file(fs::u8path(CORPUS_DIR "/basn4a08.png"), dir / L"трафарет.png");
    fs::copy_file(dir / L"цвет.png", dir / L"только.png");
    SetFileAttributesW((dir / L"только.png").c_str(), FILE_ATTRIBUTE_READONLY);
    const auto run = [&](const std::wstring& command) {
        return _wsystem((L"cd /d \"" + dir.wstring() + L"\" && \"" + fs::u8path(BIN_DIR).make_preferred().wstring() +
                         L"\\" + command + L" 2>errors.txt").c_str());
    };
    // Narrow paths would take the ANSI code page: the streams get wide ones.
    const auto read = [&](const fs::path& name) {
        std::ifstream in(dir / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string colour = read(L"цвет.png");

    EXPECT_EQ(run(L"stencilcrop.exe\" цвет.png нет\\..\\трафарет.png выход\\"), 0);
    // A backslash in the path printed brings quotes; letters beyond ASCII stay as they are.
    EXPECT_EQ(run(L"stencilcrop.exe\" --box цвет.png трафарет.png выход\\в- >box.txt"), 0);
    EXPECT_EQ(read(L"box.txt"), u8"1 0 31 32 32 32 \"выход\\\\в-трафарет.png\"\r\n");
    EXPECT_TRUE(!read(L"выход/трафарет.png").empty() && read(L"выход/в-трафарет.png") == read(L"выход/трафарет.png"));
    SetFileAttributesW((dir / L"цвет.png").c_str(), FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(run(L"scrubhidden.exe\" цвет.png только.png"), 1);
    EXPECT_EQ(GetFileAttributesW((dir / L"цвет.png").c_str()) & FILE_ATTRIBUTE_HIDDEN, DWORD(FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(!colour.empty() && read(L"цвет.png") != colour && read(L"только.png") == colour);
    EXPECT_EQ(read(L"errors.txt").rfind(u8"scrubhidden: только.png: ", 0), 0u) << read(L"errors.txt");
}
