// A file read for a rewrite, then changed by someone else before the rewrite,
// in process: each row is what happens in between, and what the rewrite must
// then do. Only the file read, unchanged, is ever replaced.
#include <filesystem>

#include <gtest/gtest.h>

#include "image.h"
#include "scrub_hidden_colour.h"

namespace {
using Bytes = std::vector<unsigned char>;

struct Change {
    const char* name;
    const char* between; // a shell command run in the folder holding d/x.png
    bool refused;
    const char* scrubbed; // the file that must now hold the scrubbed picture
    const char* other;    // the file that must now hold other.png's bytes
};

const Change changes[] = {
    {"Unchanged", "true", false, "d/x.png", nullptr},
    {"RenamedOver", "cp other.png d/x.new && mv d/x.new d/x.png", true, nullptr, "d/x.png"},
    {"SavedInPlace", "cat other.png >d/x.png", true, nullptr, "d/x.png"},
    {"Touched", "touch d/x.png", true, nullptr, nullptr},
    {"ReplacedByPipe", "rm d/x.png && mkfifo d/x.png", true, nullptr, nullptr},
    {"ReplacedByLinkToDevice", "rm d/x.png && ln -s /dev/null d/x.png", true, nullptr, nullptr},
    {"LinkedElsewhere", "mv d/x.png x.png && ln -s ../x.png d/x.png", true, nullptr, nullptr},
    // The folder is held, not its name: the rewrite follows the folder.
    {"FolderMoved", "mv d moved && mkdir d && cp other.png d/x.png", false, "moved/x.png", "d/x.png"},
};

void PrintTo(const Change& change, std::ostream* out) { *out << change.between; }

Bytes bytesOf(const std::string& path)
{
    Bytes bytes;
    lodepng::load_file(bytes, path);
    return bytes;
}

class Rewrite : public ::testing::TestWithParam<Change> {};
} // namespace

TEST_P(Rewrite, ReplacesOnlyTheFileRead)
{
    const Change& change = GetParam();
    const std::string dir = ::testing::TempDir() + "rewrite-" + change.name + "/";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir + "d");
    std::filesystem::copy_file(CORPUS_DIR "/basn6a08.png", dir + "d/x.png");
    std::filesystem::copy_file(CORPUS_DIR "/basn0g08.png", dir + "other.png");
    const Bytes original = bytesOf(dir + "d/x.png");
    Bytes expected, png;
    unsigned width, height;
    ASSERT_EQ(lodepng::decode(expected, width, height, original), 0u);
    for (size_t o = 0; o < expected.size(); o += 4)
        if (expected[o + 3] == 0)
            expected[o] = expected[o + 1] = expected[o + 2] = 0;

    Image image;
    ASSERT_TRUE(image.read((dir + "d/x.png").c_str(), png)) << image.failure.reason();
    image.decode(png);
    ASSERT_TRUE(scrubHiddenColour(image));
    ASSERT_EQ(std::system(("cd " + dir + " && " + change.between).c_str()), 0);
    EXPECT_EQ(image.rewrite(), !change.refused) << image.failure.reason();
    EXPECT_EQ(image.failure.reason(), change.refused ? "file changed while it was being handled" : "no error");

    if (change.scrubbed) {
        Bytes written;
        EXPECT_EQ(lodepng::decode(written, width, height, bytesOf(dir + change.scrubbed)), 0u);
        EXPECT_EQ(written, expected) << change.scrubbed;
    }
    if (change.other) {
        EXPECT_EQ(bytesOf(dir + change.other), bytesOf(dir + "other.png")) << change.other;
    } else if (change.refused && std::filesystem::is_regular_file(dir + "d/x.png")) {
        EXPECT_EQ(bytesOf(dir + "d/x.png"), original);
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
        EXPECT_NE(entry.path().filename().string()[0], '.') << "left behind: " << entry.path();
}

INSTANTIATE_TEST_SUITE_P(Changes, Rewrite, ::testing::ValuesIn(changes), [](const auto& info) { return info.param.name; });
