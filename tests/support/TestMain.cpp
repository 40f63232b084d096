// The main of every test executable.  Before any test runs it points HOME,
// LOG_DIR, QEV_HOME and QEV_DATA at a scratch folder of this process (a test
// that forgets its TempTree still never touches the machine's own folders)
// and sets QEV_DUMP_CORE=1 and LOG_PREF (an empty preference file) unless
// the caller chose otherwise.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    std::string scratch = std::string(QEV_TEST_SCRATCH) + "/" +
                          fs::path(argv[0]).filename().string() + "." + std::to_string(getpid());
    for (const char* d : {"home", "log", "qev_home", "qev_data"})
        fs::create_directories(scratch + "/" + d);
    setenv("HOME", (scratch + "/home").c_str(), 1);
    setenv("LOG_DIR", (scratch + "/log").c_str(), 1);
    setenv("QEV_HOME", (scratch + "/qev_home").c_str(), 1);
    setenv("QEV_DATA", (scratch + "/qev_data").c_str(), 1);
    setenv("QEV_DUMP_CORE", "1", 0);
    // An empty log-preference file: the defaults, without the note on
    // standard error that a missing file gives at the first message.
    std::string logPref = scratch + "/logPref";
    if (FILE* f = fopen(logPref.c_str(), "w"))
        fclose(f);
    setenv("LOG_PREF", logPref.c_str(), 0);

    testing::InitGoogleTest(&argc, argv);
    int status = RUN_ALL_TESTS();

    std::error_code ec;
    fs::remove_all(scratch, ec);
    return status;
}
