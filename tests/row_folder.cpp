// Runs one row of tests/rows, given run_row.sh, in a new folder under /tmp,
// where another user can reach it, and removes the folder after, whatever
// the row left in it; run_row.sh reads the rest from the environment. Its
// exit status is the row's.
#include <cstdlib>
#include <filesystem>
#include <string>

#include <sys/wait.h>

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    std::string base = "/tmp/pngtools-row-XXXXXX";
    const char* name = std::getenv("ROW_NAME");
    if (argc != 2 || name == nullptr || mkdtemp(base.data()) == nullptr)
        return 2;
    fs::permissions(base, fs::perms(0755));
    fs::create_directory(fs::path(base) / name);
    fs::current_path(fs::path(base) / name);
    setenv("RUN_ROW", argv[1], 1);
    const int status = std::system("exec bash \"$RUN_ROW\"");
    fs::current_path("/");
    std::error_code ignored;
    fs::remove_all(base, ignored);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
