// The tools as a user runs them: each row of the groups in rows/ is a test of
// its own, run by run_row.sh in a new folder. Paths reach the shell through
// the environment only, so that the suite runs from any folder.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {
struct Row {
    std::string group, name;
    bool otherUser;
};
void PrintTo(const Row& row, std::ostream* out) { *out << row.group << ": " << row.name; }

// The rows of every group, read as the tests are listed: `row NAME [needs WHAT...]`.
std::vector<Row> rows()
{
    std::vector<fs::path> groups(fs::directory_iterator(ROWS_DIR), {});
    std::sort(groups.begin(), groups.end());
    std::vector<Row> found;
    for (const auto& group : groups) {
        std::ifstream in(group);
        for (std::string line; std::getline(in, line);)
            if (line.rfind("row ", 0) == 0)
                found.push_back({group.string(), line.substr(4, line.find(' ', 4) - 4),
                                 line.find(" other-user") != line.npos});
    }
    return found;
}

class Commands : public ::testing::TestWithParam<Row> { };
} // namespace

TEST_P(Commands, Row)
{
    const Row& row = GetParam();
    // A row acting as another user runs where that user can reach it, as
    // perhaps not the build's folder, and copies the tools beside it.
    char reachable[] = "/tmp/pngtools-row-XXXXXX";
    ASSERT_TRUE(!row.otherUser || (mkdtemp(reachable) && chmod(reachable, 0755) == 0));
    const fs::path base = row.otherUser ? reachable : ::testing::TempDir();
    const fs::path dir = base / ("row-" + row.name);
    fs::remove_all(dir);
    fs::create_directory(dir);
    for (const auto& [name, value] : {std::pair{"ROW_DIR", dir.string()},
                                      {"ROW_GROUP", row.group},
                                      {"ROW_NAME", row.name},
                                      {"TOOLS", BIN_DIR},
                                      {"CORPUS", CORPUS_DIR},
                                      {"CRAFTED", CRAFTED_DIR},
                                      {"RUN_ROW", RUN_ROW},
                                      {"SANITIZED", TOOLS_SANITIZED ? "1" : ""}})
        setenv(name, value.c_str(), 1);
    FILE* shell = popen("cd \"$ROW_DIR\" && exec bash \"$RUN_ROW\"", "r");
    std::string report(1 << 20, '\0');
    report.resize(shell ? fread(report.data(), 1, report.size(), shell) : 0);
    const int status = shell ? pclose(shell) : -1;
    std::error_code ignored;
    fs::remove_all(row.otherUser ? base : dir, ignored);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        GTEST_SKIP() << report;
    EXPECT_EQ(status, 0) << report;
}

INSTANTIATE_TEST_SUITE_P(Rows, Commands, ::testing::ValuesIn(rows()),
                         [](const auto& info) { return info.param.name; });
