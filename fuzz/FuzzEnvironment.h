// The process state every harness starts from: a scratch tree that HOME,
// LOG_DIR, QEV_HOME and QEV_DATA point into (QEV_HOME/data holding the
// project's BUFR tables), QEV_DUMP_CORE=1, and quiet logging; for the
// storing harness also the run-time data and the point-data templates
// (installStore).
//
// Quiet logging still composes every message of the categories a process
// logs by default (so the code that builds log texts from input runs), into
// the log file sink only, whose file cannot be opened: nothing is written.
//
// The tree lies under $QEV_FUZZ_SCRATCH (scripts/fuzz sets it), else under
// $TMPDIR or /tmp, and goes at a normal exit.  A harness makes it once, in
// LLVMFuzzerInitialize, before anything logs.
#ifndef FUZZENVIRONMENT_H
#define FUZZENVIRONMENT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class FuzzEnvironment {
public:
    // The tree, made on the first call.
    static const FuzzEnvironment& instance();

    const std::string& root() const { return _root; }
    // $QEV_HOME/data: the tables, and the files the harnesses write for the
    // readers that look there or along the information-file search path.
    std::string dataDir() const { return _root + "/qev_home/data"; }
    std::string qevData() const { return _root + "/qev_data"; }

    // Writes the bytes as the whole file, never through a symbolic link;
    // aborts when it cannot (the harness would test nothing).
    static void writeFile(const std::string& path, const uint8_t* data, size_t size);
    // Writes the bytes as a file of dataDir() under a name no earlier call
    // of this process gave (prefix, a counter, ".txt"), for the readers that
    // keep what they read by file name; returns that name.
    static std::string writeFreshDataFile(const char* prefix, const uint8_t* data, size_t size);
    static void removeDataFile(const std::string& name);

    // The installation the storing harness writes into, made on the first
    // call: every run-time file of the project's data/ linked into
    // dataDir(), and each template of the fuzz build (made by ncgen from
    // data/templates/NAME.cdl) copied as "template" into the point-data
    // directories below qevData()/point that its CDL's "// point
    // directories:" line names.  The other harnesses go without it.
    static void installStore();
    // The point-data directories installStore made, full paths.
    static const std::vector<std::string>& pointDirs();
    // Removes everything in the directory but a "template"; aborts when
    // something else stays.
    static void clearDirectory(const std::string& dir);

    // Stops the run with a message on standard error: a property the
    // harness checks does not hold.
    [[noreturn]] static void fail(const char* harness, const std::string& what);

private:
    FuzzEnvironment();
    std::string _root;
};

#endif
