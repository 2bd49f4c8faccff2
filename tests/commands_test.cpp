// The tools as a user runs them: each row of the groups in rows/ is a test of
// its own, run by run_row.sh in a new folder. Paths reach the shell through
// the environment only, so that the suite runs from any folder.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {
// Each row's group and its line, `row NAME [needs WHAT...]`.
std::vector<std::pair<std::string, std::string>> rows()
{
    std::vector<fs::path> groups(fs::directory_iterator(ROWS_DIR), {});
    std::sort(groups.begin(), groups.end());
    std::vector<std::pair<std::string, std::string>> found;
    for (const auto& group : groups) {
        std::ifstream in(group);
        for (std::string line; std::getline(in, line);)
            if (line.rfind("row ", 0) == 0)
                found.emplace_back(group.string(), line.substr(4) + " ");
    }
    return found;
}

class Commands : public ::testing::TestWithParam<std::pair<std::string, std::string>> { };
} // namespace

TEST_P(Commands, Row)
{
    const auto& [group, line] = GetParam();
    const std::string name = line.substr(0, line.find(' '));
    // A row acting as another user runs where that user can reach it, as
    // perhaps not the build's folder, and copies the tools beside it.
    const bool otherUser = line.find(" other-user ") != std::string::npos;
    char reachable[] = "/tmp/pngtools-row-XXXXXX";
    ASSERT_TRUE(!otherUser || (mkdtemp(reachable) && chmod(reachable, 0755) == 0));
    const fs::path base = otherUser ? reachable : ::testing::TempDir(), dir = base / name;
    fs::remove_all(dir);
    fs::create_directory(dir);
    for (const auto& [variable, value] :
         {std::pair{"ROW_DIR", dir.string()}, {"ROW_GROUP", group}, {"ROW_NAME", name},
          {"TOOLS", BIN_DIR}, {"CORPUS", CORPUS_DIR}, {"CRAFTED", CRAFTED_DIR},
          {"RUN_ROW", RUN_ROW}, {"SANITIZED", TOOLS_SANITIZED ? "1" : ""}})
        setenv(variable, value.c_str(), 1);
    FILE* shell = popen("cd \"$ROW_DIR\" && exec bash \"$RUN_ROW\"", "r");
    std::string report(1 << 20, '\0');
    report.resize(shell ? fread(report.data(), 1, report.size(), shell) : 0);
    const int status = shell ? pclose(shell) : -1;
    std::error_code ignored;
    fs::remove_all(otherUser ? base : dir, ignored);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        GTEST_SKIP() << report;
    EXPECT_EQ(status, 0) << report;
}

INSTANTIATE_TEST_SUITE_P(Rows, Commands, ::testing::ValuesIn(rows()), [](const auto& info) {
    return info.param.second.substr(0, info.param.second.find(' '));
});
