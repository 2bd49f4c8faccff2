// A file read for a rewrite, then changed by someone else before the rewrite,
// in process: each row is what happens in between, and what the rewrite must
// then do. Only the file read, unchanged, is ever replaced.
#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "image.h"

namespace {
namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

// What a shell command run in the folder holding d/x.png does, before the
// rewrite or, late, between its start and its finish, and the file that must
// then hold what was written, or none where it is refused.
struct Change {
    const char* name;
    const char* between;
    const char* written;
    bool late = false;
};

const Change changes[] = {
    {"Unchanged", "true", "d/x.png"},
    {"RenamedOver", "cp other.png d/x.new && mv d/x.new d/x.png", nullptr},
    {"SavedInPlace", "cat other.png >d/x.png", nullptr},
    {"ModeChanged", "chmod 600 d/x.png", nullptr},
    {"SavedInPlaceDuringTheFlush", "cat other.png >d/x.png", nullptr, true},
    {"ReplacedByPipe", "rm d/x.png && mkfifo d/x.png", nullptr},
    {"ReplacedByLinkToPipe", "rm d/x.png && mkfifo f && ln -s ../f d/x.png", nullptr},
    {"LinkedElsewhere", "mv d/x.png x.png && ln -s ../x.png d/x.png", nullptr},
    // The folder is held, not its name: the rewrite follows the folder.
    {"FolderMoved", "mv d moved && mkdir d && cp other.png d/x.png", "moved/x.png"},
};

void PrintTo(const Change& change, std::ostream* out) { *out << change.between; }

// Every name below dir, with the bytes of each regular file.
std::map<std::string, Bytes> contents(const std::string& dir)
{
    std::map<std::string, Bytes> found;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file() && !entry.is_symlink())
            lodepng::load_file(found[entry.path().string()], entry.path().string());
        else
            found[entry.path().string()];
    return found;
}

class Rewrite : public ::testing::TestWithParam<Change> { };
} // namespace

TEST_P(Rewrite, ReplacesOnlyTheFileRead)
{
    const Change& change = GetParam();
    const std::string dir = ::testing::TempDir() + "rewrite-" + change.name + "/";
    fs::remove_all(dir);
    fs::create_directories(dir + "d");
    fs::copy_file(CORPUS_DIR "/basn6a08.png", dir + "d/x.png");
    fs::copy_file(CORPUS_DIR "/basn0g08.png", dir + "other.png");
    Bytes png;
    SourceFile source;
    OpenFile file;
    ASSERT_EQ(findForRewrite(dir + "d/x.png", source).reason(), "no error");
    ASSERT_EQ(openForRewrite(source, file).reason(), "no error");
    ASSERT_EQ(readPng(file, png).reason(), "no error");
    png.push_back('!'); // what is written: anything but what was read
    Replacement replacement;
    if (change.late) {
        ASSERT_EQ(replacement.beginRewrite(source, png).reason(), "no error");
    }
    setenv("REWRITE_DIR", dir.c_str(), 1);
    ASSERT_EQ(std::system((std::string("cd \"$REWRITE_DIR\" && ") + change.between).c_str()), 0);
    auto before = contents(dir);
    for (const auto& entry : fs::directory_iterator(dir + "d"))
        before.erase(entry.path().filename().string()[0] == '.' ? entry.path().string() : "");
    Failure failure;
    if (!change.late)
        failure = replacement.beginRewrite(source, png);
    if (!failure.failed())
        failure = replacement.commit();
    EXPECT_EQ(failure.reason(),
              change.written ? "no error" : "file changed while it was being handled");
    // Nothing else changed, and no temporary file was left.
    if (change.written) {
        EXPECT_TRUE(contents(dir)[dir + change.written] == png) << change.written << " not written";
        before[dir + change.written] = png;
    }
    EXPECT_TRUE(contents(dir) == before) << "files other than the one rewritten changed";
}

INSTANTIATE_TEST_SUITE_P(Changes, Rewrite, ::testing::ValuesIn(changes),
                         [](const auto& info) { return info.param.name; });
