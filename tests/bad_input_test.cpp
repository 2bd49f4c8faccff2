// Feeds both tools every kind of broken input and checks that each is refused
// with one clear message, exit status 1, no output and no change to any file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "fixtures.h"

namespace {

const std::string stencilcrop = STENCILCROP_PATH;
const std::string scrubhidden = SCRUBHIDDEN_PATH;

// A small file that both tools would act on: it has hidden colour, and it
// carries a text chunk, so there are four chunks to damage.
Bytes goodPng()
{
    PngLayout layout;
    layout.texts = {{"Comment", "x"}};
    return encodeRaw(noisyRgba(4, 2, 3, true), 4, 2, layout);
}

uint32_t bigEndian(const Bytes& bytes, size_t at)
{
    return uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 | uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
}

struct Chunk {
    std::string type;
    size_t start;  // offset of the length field
    size_t length; // of the data
};

std::vector<Chunk> chunksOf(const Bytes& png)
{
    std::vector<Chunk> chunks;
    for (size_t at = 8; at + 12 <= png.size();) {
        Chunk chunk{std::string(png.begin() + at + 4, png.begin() + at + 8), at, bigEndian(png, at)};
        chunks.push_back(chunk);
        at += 12 + chunk.length;
    }
    return chunks;
}

Bytes withSize(uint32_t width, uint32_t height)
{
    Bytes png = goodPng();
    for (int i = 0; i < 4; ++i) {
        png[16 + i] = static_cast<unsigned char>(width >> (24 - 8 * i));
        png[20 + i] = static_cast<unsigned char>(height >> (24 - 8 * i));
    }
    lodepng_chunk_generate_crc(&png[8]);
    return png;
}

// Every broken file, by name.
std::vector<std::pair<std::string, Bytes>> brokenFiles()
{
    const Bytes good = goodPng();
    std::vector<std::pair<std::string, Bytes>> files;
    for (size_t size = 0; size < good.size(); ++size)
        files.emplace_back("cut-" + std::to_string(size) + ".png", Bytes(good.begin(), good.begin() + size));

    const std::vector<Chunk> chunks = chunksOf(good);
    EXPECT_EQ(chunks.size(), 4u);
    for (const Chunk& chunk : chunks) {
        Bytes crc = good;
        crc[chunk.start + 8 + chunk.length + 3] ^= 0x01;
        files.emplace_back("crc-" + chunk.type + ".png", crc);
        if (chunk.length > 0) {
            Bytes data = good;
            data[chunk.start + 8] ^= 0xff;
            files.emplace_back("data-" + chunk.type + ".png", data);
        }
        if (chunk.type == "IDAT") {
            // The Adler-32 closes the compressed data; the chunk's CRC is
            // made right again so that only the checksum is wrong.
            Bytes adler = good;
            adler[chunk.start + 8 + chunk.length - 1] ^= 0x01;
            lodepng_chunk_generate_crc(&adler[chunk.start]);
            files.emplace_back("adler.png", adler);
        }
    }
    files.emplace_back("zero-width.png", withSize(0, 2));
    files.emplace_back("zero-height.png", withSize(4, 0));
    files.emplace_back("too-wide.png", withSize(0xffffffffu, 1));
    files.emplace_back("enormous.png", withSize(0x7fffffffu, 0x7fffffffu));
    files.emplace_back("gigapixel.png", withSize(100000, 100000));
    return files;
}

struct BadInput : ::testing::Test {
    TempDir dir;

    // Runs a tool that must fail on each of the named files with one line
    // each, in order, and print nothing else.
    void expectRefused(const std::string& program, const std::vector<std::string>& args,
                       const std::vector<std::string>& named)
    {
        const std::string tool = program.substr(program.rfind('/') + 1);
        SCOPED_TRACE(tool + " " + args.front());
        RunResult r = run(program, args, dir.path);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        size_t at = 0;
        for (const std::string& name : named) {
            const std::string lead = tool + ": " + name + ": ";
            const size_t end = r.err.find('\n', at);
            ASSERT_NE(end, std::string::npos) << "no line for " << name << " in:\n" << r.err;
            EXPECT_EQ(r.err.compare(at, lead.size(), lead), 0) << r.err.substr(at, end - at);
            EXPECT_GT(end - at, lead.size()) << "no reason given for " << name;
            at = end + 1;
        }
        EXPECT_EQ(at, r.err.size()) << "more than one line a file:\n" << r.err;
    }

    void expectRefusedByBoth(const std::vector<std::string>& bad)
    {
        // The tools read a colour image and a stencil, and any number of
        // files to scrub, through one load; giving a broken file in both
        // places, and all of them to one scrub, keeps the runs few.
        const auto before = snapshot(dir.path);
        for (const std::string& name : bad)
            expectRefused(stencilcrop, {name, name, "out-"}, {name, name});
        expectRefused(scrubhidden, bad, bad);
        EXPECT_TRUE(snapshot(dir.path) == before) << "a file changed";
    }
};

TEST_F(BadInput, DamagedFilesAreRefused)
{
    std::vector<std::string> names;
    for (const auto& file : brokenFiles()) {
        writeBytes(dir.file(file.first), file.second);
        names.push_back(file.first);
    }
    expectRefusedByBoth(names);
}

TEST_F(BadInput, WhatIsNoFileIsRefused)
{
    ::mkdir(dir.file("folder.png").c_str(), 0755);
    std::vector<std::string> names = {"folder.png", "missing.png"};
    if (!runningAsRoot()) {
        writeBytes(dir.file("unreadable.png"), goodPng());
        ::chmod(dir.file("unreadable.png").c_str(), 0);
        names.push_back("unreadable.png");
    }
    expectRefusedByBoth(names);
}

} // namespace
