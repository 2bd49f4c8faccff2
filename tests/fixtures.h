#pragma once

// Helpers shared by the tests: scratch directories, PNG files made in the
// colour types that matter, independent decoding of what the tools wrote,
// and running the built programs.

#include <array>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <lodepng.h>

using Bytes = std::vector<unsigned char>;
using Rgba = std::array<unsigned char, 4>;

// A fresh directory, removed with its contents when the test ends.
struct TempDir {
    std::string path;
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return path + "/" + name; }
    std::vector<std::string> entries() const;
};

// Names of the entries in a directory, sorted.
std::vector<std::string> listDirectory(const std::string& path);

// How a test PNG is laid out in the file.
struct PngLayout {
    LodePNGColorType colourType = LCT_RGBA;
    unsigned bitDepth = 8;
    bool interlaced = false;
    std::vector<std::pair<std::string, std::string>> texts;
    std::vector<Rgba> palette;
    bool colourKey = false;
    unsigned keyR = 0, keyG = 0, keyB = 0;
};

// Encodes raw samples, already in the layout's colour type and bit depth,
// exactly in that layout.
Bytes encodeRaw(const Bytes& raw, unsigned width, unsigned height, const PngLayout& layout);

// Encodes 8-bit RGBA pixels as an 8-bit RGBA file.
Bytes encodeRgba(const Bytes& rgba, unsigned width, unsigned height);

// RGBA pixels whose values are given by a function of the position.
Bytes makeRgba(unsigned width, unsigned height, const std::function<Rgba(unsigned x, unsigned y)>& pixel);

Rgba pixelAt(const Bytes& rgba, unsigned width, unsigned x, unsigned y);

// Pixels of seeded noise, which compress badly and so make large files. With
// someHidden, about one pixel in four is fully transparent.
Bytes noisyRgba(unsigned width, unsigned height, unsigned seed, bool someHidden = false);

void writeBytes(const std::string& path, const Bytes& bytes);
Bytes readBytes(const std::string& path);
bool fileExists(const std::string& path);

// Every entry below a directory, with the contents and modification time of
// each file, to show that nothing at all changed.
struct Entry {
    Bytes bytes;
    long long modified = 0;
    unsigned mode = 0;
    bool operator==(const Entry& other) const
    {
        return bytes == other.bytes && modified == other.modified && mode == other.mode;
    }
};
std::map<std::string, Entry> snapshot(const std::string& dir);

// A file decoded with a state of its own, independently of the tools' code.
struct Decoded {
    unsigned error = 0;
    unsigned width = 0;
    unsigned height = 0;
    Bytes rgba;
    lodepng::State state;
};
Decoded decodeFile(const std::string& path);

// Text chunks (key, value) that a decoded file carries.
std::vector<std::pair<std::string, std::string>> textsOf(const Decoded& decoded);

struct RunResult {
    int status = -1; // exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs a program with arguments in a working directory, without a shell.
// A file-size limit, when given, stops a write past that many bytes into any
// file: by killing the program, or, when it survives the limit, by failing
// the write as a full disk would.
enum class AtLimit { dies, survives };
RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::string& workDir = ".", long fileSizeLimit = -1, AtLimit atLimit = AtLimit::dies);

bool runningAsRoot();
