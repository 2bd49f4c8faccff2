// The tools as a user runs them. Each row is a shell command run in a fresh
// copy of a folder of sample files, the exit status and standard error it
// must give, and a shell test that the files must pass afterwards.
#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>
#include <lodepng.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
const std::string badPng = "incorrect PNG signature, it's no PNG or corrupted\n", usage = "usage: stencilcrop [--box] COLOUR STENCIL PREFIX\n", none = "true";

const struct { std::string command; int status; std::string errors, after; } rows[] = {
    {"stencilcrop", 2, usage, none},
    {"stencilcrop c.png", 2, usage, none},
    {"stencilcrop --box c.png s.png", 2, usage, "! test -s out"},
    {"stencilcrop --version", 0, "", "grep -qx 'stencilcrop [0-9.]*' out"},
    {"stencilcrop -h", 0, "", "grep -qx 'usage: stencilcrop \\[--box\\] COLOUR STENCIL PREFIX' out"},
    // With standard input closed, the first file opened is descriptor 0; --box counts only before the operands.
    {"umask 022; stencilcrop c.png s.png new/ --box <&-", 0, "", "stat -c %a new/s.png | grep -qx 644 && ! test -s out"},
    // A path that would break the line or read back wrong is quoted; letters beyond ASCII are not.
    {R"x(n="$(printf 'a\nb"c\\é/')" && mkdir "$n" && stencilcrop --box c.png s.png "$n")x", 0, "", R"x(printf '%s\n' '1 0 31 32 32 32 "a\nb\"c\\é/s.png"' | cmp - out)x"},
    {"stencilcrop --box c.png s.png new/ >/dev/full", 1, "stencilcrop: standard output: No space left on device\n", "test -f new/s.png"},
    // Both separators end a folder name; an input may be a pipe, read in pieces.
    {"cp s.png 'new/a\\b.png' && (head -c 99 c.png; sleep 0.1; tail -c +100 c.png) | stencilcrop /dev/stdin 'new/a\\b.png' 'p\\'", 0, "", "test -f 'p\\b.png'"},
    {"stencilcrop missing.png s.png new/", 1, "stencilcrop: missing.png: No such file or directory\n", "! test -e new/s.png"},
    {"stencilcrop bad.png bad.png new/", 1, "stencilcrop: bad.png: " + badPng + "stencilcrop: bad.png: " + badPng, none},
    {"stencilcrop --box c.png small.png new/", 1, "stencilcrop: small.png: stencil is 32x2 but the colour image is 32x32\n", "! test -s out"},
    {"stencilcrop --box c.png clear.png new/", 1, "stencilcrop: clear.png: stencil has no visible pixel\n", "! test -e new/clear.png && ! test -s out"},
    // Past the file-size limit, a write fails like any other.
    {"cp c.png new/ibasn6a16.png; ulimit -f 1; stencilcrop ibasn6a16.png ibasn6a16.png new/", 1, "stencilcrop: new/ibasn6a16.png: File too large\n", "cmp c.png new/ibasn6a16.png && test \"$(ls -A new)\" = ibasn6a16.png"},
    {"scrubhidden c.png --help", 0, "", "cmp c.png dirty.png && grep -qx 'usage: scrubhidden \\[--check\\] FILE...' out"},
    {"scrubhidden dirty.png clean.png bad.png a.b.png d.PNG d.png.bak 'rev.2\\d' d", 1, "scrubhidden: bad.png: " + badPng, "! cmp -s dirty.png c.png && cmp dirty.png a.b.png && cmp clean.png ftbbn0g01.png && stat -c %Y clean.png | grep -qx 0 && for f in d.PNG d.png.bak 'rev.2\\d' d; do cmp \"$f\" c.png || exit 1; done && cp dirty.png again.png && scrubhidden again.png && cmp dirty.png again.png"},
    {"scrubhidden empty.png cut.png crc.png dir.png missing.png", 1, "scrubhidden: empty.png: empty file\nscrubhidden: cut.png: chunk length too large, chunk broken off at end of file\nscrubhidden: crc.png: invalid CRC encountered (checking CRC can be disabled)\nscrubhidden: dir.png: Is a directory\nscrubhidden: missing.png: No such file or directory\n", none},
    // A check writes nothing and lists, in order, the files that hide colour.
    {"scrubhidden --check dirty.png clean.png basn2c08.png bad.png c.png", 2, "scrubhidden: bad.png: " + badPng, "printf 'dirty.png\\nc.png\\n' | cmp - out && cmp dirty.png d.PNG && cmp clean.png ftbbn0g01.png"},
    {"scrubhidden clean.png basn0g08.png dirty.png basn3p08.png --check", 1, "", "echo dirty.png | cmp - out && cmp dirty.png d.PNG"},
    {"scrubhidden --check clean.png basn0g08.png ibasn3p08.png", 0, "", "! test -s out"},
    {"scrubhidden --check dirty.png >/dev/full", 2, "scrubhidden: standard output: No space left on device\n", none},
    // A replaced file keeps its mode and group, and a link stays a link.
    {"chmod 640 dirty.png; chgrp 1 dirty.png 2>/dev/null; stat -c %g dirty.png >group; ln -s dirty.png link.png && scrubhidden link.png", 0, "", "test -L link.png && ! cmp -s dirty.png c.png && stat -c %a dirty.png | grep -qx 640 && stat -c %g dirty.png | cmp - group"},
    {"(ulimit -f 1; scrubhidden ./ibasn6a16.png c.png)", 1, "scrubhidden: ./ibasn6a16.png: File too large\n", "cmp ibasn6a16.png ../samples/ibasn6a16.png && ! cmp -s c.png d.PNG && test -z \"$(ls -A | grep '^[.]')\""},
    {"mkfifo f.png && scrubhidden f.png c.png", 1, "scrubhidden: f.png: not a regular file\n", "! cmp -s c.png d.PNG"},
    {"stencilcrop --help >/dev/full", 1, "stencilcrop: standard output: No space left on device\n", none},
    // A link in a sticky, world-writable folder is followed only for its owner or the folder's.
    {"mkdir -m 1777 sh && ln -s ../dirty.png sh/s.png && stencilcrop c.png s.png sh/", 0, "", "test -L sh/s.png && ! cmp -s dirty.png d.PNG"},
    {": as root; mkdir -m 1777 sh && ln -s ../dirty.png sh/s.png && chown -h 1 sh/s.png && stencilcrop c.png s.png sh/", 1, "stencilcrop: sh/s.png: Permission denied\n", "cmp dirty.png d.PNG"},
    // A descriptor left open for each file would run out here.
    {"ulimit -n 12; scrubhidden $(yes clean.png | head -n 20)", 0, "", none},
};
} // namespace

TEST(Commands, StatusMessagesAndFiles)
{
    // c.png and its copies hold colour behind transparent pixels; clean.png
    // has transparent pixels, all black; ibasn6a16.png writes more than 512
    // bytes.
    const std::string samples = ::testing::TempDir() + "samples/";
    ASSERT_EQ(std::system(("rm -rf " + samples + " && mkdir -p " + samples + " && cp " + CORPUS_DIR + "/*.png " + samples).c_str()), 0);
    lodepng::encode(samples + "small.png", std::vector<unsigned char>(32 * 2 * 4, 255), 32, 2);
    lodepng::encode(samples + "clear.png", std::vector<unsigned char>(32 * 32 * 4, 0), 32, 32);
    ASSERT_EQ(std::system(("set -e; cd " + samples + R"(; mkdir new dir.png && touch empty.png && cp basn4a08.png s.png
        cp basn6a08.png c.png && cp ftbbn0g01.png clean.png && touch -d @0 clean.png
        head -c 40 c.png >cut.png && head -c 40 /dev/zero >bad.png && cp c.png crc.png
        printf '\377' | dd of=crc.png bs=1 seek=60 conv=notrunc 2>/dev/null
        for f in dirty.png a.b.png d.PNG d.png.bak 'rev.2\d' d; do cp c.png "$f"; done)").c_str()), 0);

    for (const auto& r : rows) {
        if (r.command.rfind(": as root", 0) == 0 && geteuid() != 0)
            continue;
        const std::string dir = ::testing::TempDir() + "row/", cd = "cd " + dir + " && PATH=" + BIN_DIR + ":$PATH && ";
        ASSERT_EQ(std::system(("rm -rf " + dir + " && cp -pR " + samples + " " + dir).c_str()), 0);
        const int status = std::system((cd + "(" + r.command + ") >out 2>err").c_str());
        std::vector<unsigned char> errors;
        lodepng::load_file(errors, dir + "err");
        EXPECT_EQ(WEXITSTATUS(status), r.status) << r.command;
        EXPECT_EQ(std::string(errors.begin(), errors.end()), r.errors) << r.command;
        EXPECT_EQ(std::system((cd + "(" + r.after + ")").c_str()), 0) << r.command << "\n" << r.after;
    }
}

TEST(Commands, BoxIsWhereTheStencilIsVisible)
{
    // Every corpus file as its own stencil, and stencils drawn here: 1×1 of
    // alpha 255, 1 and 0, and 5×3 ones visible only in one corner or everywhere.
    const std::string dir = ::testing::TempDir() + "box/", run = "cd " + dir + " && PATH=" + BIN_DIR + ":$PATH && stencilcrop ";
    ASSERT_EQ(std::system(("rm -rf " + dir + " && mkdir -p " + dir + "plain " + dir + "boxed && cp " + CORPUS_DIR + "/*.png " + dir).c_str()), 0);
    const struct { unsigned width, height, first, last, alpha; } drawn[] = {
        {1, 1, 0, 0, 255}, {1, 1, 0, 0, 1}, {1, 1, 0, 0, 0}, {5, 3, 0, 0, 9}, {5, 3, 4, 4, 9}, {5, 3, 10, 10, 9}, {5, 3, 14, 14, 9}, {5, 3, 0, 14, 255}};
    for (const auto& d : drawn) {
        std::vector<unsigned char> rgba(d.width * d.height * 4, 99);
        for (unsigned i = 0; i < d.width * d.height; ++i)
            rgba[i * 4 + 3] = i >= d.first && i <= d.last ? d.alpha : 0;
        lodepng::encode(dir + "drawn" + std::to_string(&d - drawn) + ".png", rgba, d.width, d.height);
    }
    size_t stencils = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_directory())
            continue;
        std::vector<unsigned char> rgba, printed;
        unsigned w = 0, h = 0;
        ASSERT_EQ(lodepng::decode(rgba, w, h, dir + name), 0u) << name;
        unsigned x0 = w, y0 = h, x1 = 0, y1 = 0;
        ++stencils;
        for (unsigned i = 0; i < w * h; ++i)
            if (rgba[i * 4 + 3] != 0)
                x0 = std::min(x0, i % w), x1 = std::max(x1, i % w), y0 = std::min(y0, i / w), y1 = i / w;
        const int status = std::system((run + "--box " + name + " " + name + " boxed/ >boxed/line 2>/dev/null").c_str());
        lodepng::load_file(printed, dir + "boxed/line");
        std::istringstream line(std::string(printed.begin(), printed.end()));
        EXPECT_EQ(WEXITSTATUS(status), x0 > x1 ? 1 : 0) << name;
        if (x0 > x1) {
            EXPECT_EQ(line.str(), "") << name << ": nothing visible, so nothing printed";
            continue;
        }
        const unsigned expected[] = {x0, y0, x1 - x0 + 1, y1 - y0 + 1, w, h};
        const char* const fields[] = {"x", "y", "width", "height", "source width", "source height"};
        for (size_t f = 0; f < 6; ++f) {
            unsigned value = ~0u;
            line >> value;
            EXPECT_EQ(value, expected[f]) << name << ": " << fields[f];
        }
        std::string path;
        std::getline(line, path, '\0');
        EXPECT_EQ(path, " boxed/" + name + "\n") << name;
        EXPECT_EQ(std::system((run + name + " " + name + " plain/ && cmp -s plain/" + name + " boxed/" + name).c_str()), 0)
            << name << ": written with --box, not the same bytes as without";
    }
    EXPECT_EQ(stencils, 59u);
}
