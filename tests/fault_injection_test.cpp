// Makes writing fail or stop halfway, and checks that neither tool ever
// loses or damages a file because of it.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>

#include "fixtures.h"

namespace {

const std::string stencilcrop = STENCILCROP_PATH;
const std::string scrubhidden = SCRUBHIDDEN_PATH;

// Noise compresses badly, so these files and what the tools write from them
// are far larger than the limits below.
const unsigned side = 128;
const Bytes noisy = encodeRgba(noisyRgba(side, side, 1, true), side, side);
const Bytes opaqueStencil = encodeRgba(Bytes(side * side * 4, 255), side, side);
const Bytes earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};

// A small file that scrubhidden rewrites.
const Bytes smallDirty = encodeRgba({1, 2, 3, 0, 4, 5, 6, 255}, 2, 1);

struct FaultInjection : ::testing::Test {
    TempDir dir;

    void SetUp() override
    {
        ASSERT_GT(noisy.size(), 49152u);
        writeBytes(dir.file("colour.png"), noisy);
        writeBytes(dir.file("stencil.png"), opaqueStencil);
    }
};

TEST_F(FaultInjection, KilledWhileWritingKeepsTheEarlierFile)
{
    writeBytes(dir.file("out-stencil.png"), earlier);
    RunResult r = run(stencilcrop, {"colour.png", "stencil.png", "out-"}, dir.path, 4096);
    EXPECT_EQ(r.status, -1) << "the limit did not stop the program";
    EXPECT_EQ(readBytes(dir.file("out-stencil.png")), earlier);

    r = run(scrubhidden, {"colour.png"}, dir.path, 4096);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(readBytes(dir.file("colour.png")), noisy);
}

TEST_F(FaultInjection, FailedWriteIsReportedAndKeepsEveryFile)
{
    // Surviving the limit, the programs see a write fail as on a full disk.
    writeBytes(dir.file("out-stencil.png"), earlier);
    RunResult r = run(stencilcrop, {"colour.png", "stencil.png", "out-"}, dir.path, 4096, AtLimit::survives);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "stencilcrop: out-stencil.png: File too large\n");
    EXPECT_EQ(readBytes(dir.file("out-stencil.png")), earlier);

    writeBytes(dir.file("small.png"), smallDirty);
    r = run(scrubhidden, {"colour.png", "small.png"}, dir.path, 4096, AtLimit::survives);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "scrubhidden: colour.png: File too large\n");
    EXPECT_EQ(readBytes(dir.file("colour.png")), noisy);
    EXPECT_EQ(decodeFile(dir.file("small.png")).rgba, (Bytes{0, 0, 0, 0, 4, 5, 6, 255}));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"colour.png", "out-stencil.png", "small.png", "stencil.png"}));
}

TEST_F(FaultInjection, ReadOnlyDirectoriesAreReported)
{
    if (runningAsRoot())
        GTEST_SKIP() << "permissions do not bind root";
    ::mkdir(dir.file("locked").c_str(), 0755);
    writeBytes(dir.file("locked/a.png"), noisy);
    ::chmod(dir.file("locked").c_str(), 0555);
    RunResult r = run(stencilcrop, {"colour.png", "stencil.png", "locked/"}, dir.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "stencilcrop: locked/stencil.png: Permission denied\n");
    r = run(scrubhidden, {"locked/a.png"}, dir.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "scrubhidden: locked/a.png: Permission denied\n");
    EXPECT_EQ(readBytes(dir.file("locked/a.png")), noisy);
    EXPECT_EQ(listDirectory(dir.file("locked")), std::vector<std::string>{"a.png"});
}

TEST_F(FaultInjection, OutOfMemoryFailsOnlyTheFileConcerned)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer cannot run under an address-space limit";
#endif
    // 4096 x 4096 pixels at one bit each: a small file that decodes to
    // 64 MiB, beyond the limit below.
    PngLayout bits;
    bits.colourType = LCT_GREY;
    bits.bitDepth = 1;
    const unsigned huge = 4096;
    writeBytes(dir.file("huge.png"), encodeRaw(Bytes(huge / 8 * huge, 0x55), huge, huge, bits));
    // The lower limit stops the codec's own allocation, the higher one the
    // copy of its result into the image.
    for (int megabytes : {48, 100}) {
        SCOPED_TRACE(megabytes);
        const std::string limit = "--as=" + std::to_string(megabytes << 20);
        writeBytes(dir.file("first.png"), smallDirty);
        writeBytes(dir.file("last.png"), smallDirty);
        RunResult r = run("/usr/bin/prlimit", {limit, scrubhidden, "first.png", "huge.png", "last.png"}, dir.path);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "scrubhidden: huge.png: out of memory\n");
        EXPECT_EQ(decodeFile(dir.file("first.png")).rgba, (Bytes{0, 0, 0, 0, 4, 5, 6, 255}));
        EXPECT_EQ(decodeFile(dir.file("last.png")).rgba, (Bytes{0, 0, 0, 0, 4, 5, 6, 255}));
    }

    RunResult r = run("/usr/bin/prlimit", {"--as=" + std::to_string(48 << 20), stencilcrop, "huge.png", "huge.png", "out-"},
                      dir.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "stencilcrop: huge.png: out of memory\nstencilcrop: huge.png: out of memory\n");
    EXPECT_FALSE(fileExists(dir.file("out-huge.png")));
}

// A small file system of its own, to fill up for real.
struct SmallDisk {
    std::string path;
    bool mounted = false;
    explicit SmallDisk(const std::string& at) : path(at)
    {
        ::mkdir(path.c_str(), 0755);
        mounted = ::mount("tmpfs", path.c_str(), "tmpfs", 0, "size=80k") == 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            ::umount2(path.c_str(), MNT_DETACH);
    }
};

TEST_F(FaultInjection, FullDiskDuringRewriteKeepsTheOriginal)
{
    SmallDisk disk(dir.file("disk"));
    if (!disk.mounted)
        GTEST_SKIP() << "cannot mount a file system here: " << std::strerror(errno);
    // The original fills more than half the disk, so its rewrite cannot fit
    // beside it.
    writeBytes(dir.file("disk/a.png"), noisy);
    RunResult r = run(scrubhidden, {"disk/a.png"}, dir.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "scrubhidden: disk/a.png: No space left on device\n");
    EXPECT_EQ(readBytes(dir.file("disk/a.png")), noisy);
    EXPECT_EQ(listDirectory(dir.file("disk")), std::vector<std::string>{"a.png"});

    writeBytes(dir.file("disk/out-stencil.png"), earlier);
    r = run(stencilcrop, {"colour.png", "stencil.png", "disk/out-"}, dir.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "stencilcrop: disk/out-stencil.png: No space left on device\n");
    EXPECT_EQ(readBytes(dir.file("disk/out-stencil.png")), earlier);
}

} // namespace
