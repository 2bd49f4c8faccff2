#include "fixtures.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void removeTree(const std::string& path)
{
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0)
        return;
    if (S_ISDIR(info.st_mode)) {
        ::chmod(path.c_str(), 0700);
        if (DIR* dir = ::opendir(path.c_str())) {
            while (dirent* entry = ::readdir(dir)) {
                std::string name = entry->d_name;
                if (name != "." && name != "..")
                    removeTree(path + "/" + name);
            }
            ::closedir(dir);
        }
        ::rmdir(path.c_str());
    } else {
        ::unlink(path.c_str());
    }
}

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A sanitized build notes on standard error each allocation it refuses;
// those lines are the runtime's, not the program's.
std::string withoutSanitizerWarnings(const std::string& text)
{
    std::string kept;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string line = text.substr(at, end - at);
        if (!(line.compare(0, 2, "==") == 0 && line.find("WARNING: AddressSanitizer failed to allocate") != std::string::npos))
            kept += line;
        at = end;
    }
    return kept;
}

} // namespace

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/pngtools-test.XXXXXX";
    if (::mkdtemp(&templ[0]) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path = templ;
}

TempDir::~TempDir() { removeTree(path); }

std::vector<std::string> TempDir::entries() const { return listDirectory(path); }

std::vector<std::string> listDirectory(const std::string& path)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(path.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

Bytes encodeRaw(const Bytes& raw, unsigned width, unsigned height, const PngLayout& layout)
{
    lodepng::State state;
    state.encoder.auto_convert = 0;
    LodePNGColorMode mode = lodepng_color_mode_make(layout.colourType, layout.bitDepth);
    lodepng_color_mode_copy(&state.info_raw, &mode);
    lodepng_color_mode_copy(&state.info_png.color, &mode);
    for (const Rgba& entry : layout.palette) {
        lodepng_palette_add(&state.info_raw, entry[0], entry[1], entry[2], entry[3]);
        lodepng_palette_add(&state.info_png.color, entry[0], entry[1], entry[2], entry[3]);
    }
    for (LodePNGColorMode* m : {&state.info_raw, &state.info_png.color}) {
        m->key_defined = layout.colourKey;
        m->key_r = layout.keyR;
        m->key_g = layout.keyG;
        m->key_b = layout.keyB;
    }
    state.info_png.interlace_method = layout.interlaced ? 1 : 0;
    for (const auto& text : layout.texts)
        lodepng_add_text(&state.info_png, text.first.c_str(), text.second.c_str());
    lodepng_color_mode_cleanup(&mode);

    Bytes png;
    unsigned error = lodepng::encode(png, raw, width, height, state);
    if (error)
        throw std::runtime_error(std::string("test encode failed: ") + lodepng_error_text(error));
    return png;
}

Bytes encodeRgba(const Bytes& rgba, unsigned width, unsigned height)
{
    return encodeRaw(rgba, width, height, PngLayout());
}

Bytes makeRgba(unsigned width, unsigned height, const std::function<Rgba(unsigned, unsigned)>& pixel)
{
    Bytes rgba;
    rgba.reserve(size_t(width) * height * 4);
    for (unsigned y = 0; y < height; ++y)
        for (unsigned x = 0; x < width; ++x) {
            Rgba p = pixel(x, y);
            rgba.insert(rgba.end(), p.begin(), p.end());
        }
    return rgba;
}

Bytes noisyRgba(unsigned width, unsigned height, unsigned seed, bool someHidden)
{
    return makeRgba(width, height, [&seed, someHidden](unsigned, unsigned) {
        seed = seed * 1103515245 + 12345;
        unsigned char alpha = someHidden && (seed >> 30) == 0 ? 0 : 255;
        return Rgba{static_cast<unsigned char>(seed >> 8), static_cast<unsigned char>(seed >> 16),
                    static_cast<unsigned char>(seed >> 24), alpha};
    });
}

Rgba pixelAt(const Bytes& rgba, unsigned width, unsigned x, unsigned y)
{
    size_t o = (size_t(y) * width + x) * 4;
    return {rgba.at(o), rgba.at(o + 1), rgba.at(o + 2), rgba.at(o + 3)};
}

void writeBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out.flush())
        throw std::runtime_error("cannot write " + path);
}

Bytes readBytes(const std::string& path)
{
    std::string text = slurp(path);
    return Bytes(text.begin(), text.end());
}

bool fileExists(const std::string& path)
{
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

std::map<std::string, Entry> snapshot(const std::string& dir)
{
    std::map<std::string, Entry> entries;
    for (const std::string& name : listDirectory(dir)) {
        const std::string path = dir + "/" + name;
        struct stat info;
        if (::lstat(path.c_str(), &info) != 0)
            continue;
        Entry entry;
        entry.modified = static_cast<long long>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
        entry.mode = info.st_mode;
        if (S_ISDIR(info.st_mode)) {
            for (auto& inner : snapshot(path))
                entries[name + "/" + inner.first] = inner.second;
        } else if (S_ISREG(info.st_mode) && ::access(path.c_str(), R_OK) == 0) {
            entry.bytes = readBytes(path);
        }
        entries[name] = entry;
    }
    return entries;
}

Decoded decodeFile(const std::string& path)
{
    Decoded decoded;
    Bytes png = readBytes(path);
    decoded.error = lodepng::decode(decoded.rgba, decoded.width, decoded.height, decoded.state, png);
    return decoded;
}

std::vector<std::pair<std::string, std::string>> textsOf(const Decoded& decoded)
{
    std::vector<std::pair<std::string, std::string>> texts;
    const LodePNGInfo& info = decoded.state.info_png;
    for (size_t i = 0; i < info.text_num; ++i)
        texts.emplace_back(info.text_keys[i], info.text_strings[i]);
    return texts;
}

RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::string& workDir, long fileSizeLimit, AtLimit atLimit)
{
    TempDir capture;
    const std::string outPath = capture.file("out");
    const std::string errPath = capture.file("err");
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    // vfork rather than fork: copying the page tables of a sanitized test
    // process costs far more than the run itself. The child only makes
    // system calls on memory prepared above before it execs.
    pid_t pid = ::vfork();
    if (pid < 0)
        throw std::runtime_error("vfork failed");
    if (pid == 0) {
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 ||
            ::chdir(workDir.c_str()) != 0)
            ::_exit(127);
        if (fileSizeLimit >= 0) {
            struct rlimit limit;
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = static_cast<rlim_t>(fileSizeLimit);
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
                ::_exit(127);
            // An ignored signal stays ignored across exec.
            if (atLimit == AtLimit::survives)
                ::signal(SIGXFSZ, SIG_IGN);
        }
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            throw std::runtime_error("waitpid failed");
    RunResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = slurp(outPath);
    result.err = withoutSanitizerWarnings(slurp(errPath));
    return result;
}

bool runningAsRoot() { return ::geteuid() == 0; }
