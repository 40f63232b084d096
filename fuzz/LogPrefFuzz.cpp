// The log-preference reader: the input is a preference file, applied by
// LogPrefParser::parseFile as at the process's first message.  The commands
// change the process-wide filter table, prefixes, abort set and line
// endings; the harness puts all of that back after each input, so every
// input starts from the quiet logging of FuzzEnvironment (an input that put
// a category into the abort set would otherwise end a later, unrelated
// input).
#include <cstdio>

#include "FuzzEnvironment.h"
#include "LogPrefParser.h"
#include "LogStream.h"
#include "LogStreamState.h"

namespace {

// The parts of the log stream's state that preference commands change.
struct Preferences {
    Dict<TextString, LogFilter> filterTable;
    LogFilter defaults;
    bool filtering = true;
    bool forceEndl = true;
    unsigned abortMask = 0;
    LogPrefixSettings prefix;

    static Preferences current()
    {
        const LogStreamState& s = logStreamState();
        Preferences p;
        p.filterTable = s.filterTable;
        p.defaults = s.defaults;
        p.filtering = s.filtering;
        p.forceEndl = s.forceEndl;
        p.abortMask = s.abortMask;
        p.prefix = s.prefix;
        return p;
    }

    void restore() const
    {
        LogStreamState& s = logStreamState();
        s.filterTable = filterTable;
        s.defaults = defaults;
        s.filtering = filtering;
        s.forceEndl = forceEndl;
        s.abortMask = abortMask;
        s.prefix = prefix;
    }
};

const Preferences* quiet = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzEnvironment::instance();
    // The first message reads the quiet preferences.
    QEV_LOG(LogStream::EVENT, "LogPrefFuzz") << "log preferences read" << std::endl;
    quiet = new Preferences(Preferences::current());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static char none = '\0';
    FILE* file = size > 0 ? fmemopen(const_cast<uint8_t*>(data), size, "r")
                          : fmemopen(&none, 1, "r");
    if (!file)
        FuzzEnvironment::fail("fuzz_log_pref", "fmemopen failed");
    LogPrefParser::parseFile(file);
    std::fclose(file);
    // A message under the preferences just read, kept off the terminal
    // (the files are never opened), then the quiet preferences again.
    LogStreamState& s = logStreamState();
    s.defaults.mask[LogStream::TTY] = 0;
    for (int i = 0; i < s.filterTable.count(); ++i) {
        LogFilter filter = s.filterTable.value(i);
        filter.mask[LogStream::TTY] = 0;
        s.filterTable.insert(s.filterTable.key(i), filter);
    }
    s.filtering = true;
    QEV_LOG(LogStream::PROBLEM, "LogPrefFuzz") << "preferences applied" << std::endl;
    quiet->restore();
    return 0;
}
