// The process's one logging facility.
//
// Every message names one category, the source file (its base name without
// extension, e.g. "SeqOf") and the line that issued it.  The filter decision
// is made before any text is composed; a message that passes is composed in
// the one process-wide message stream and written, each sink with its own
// prefix, to the terminal (standard error), the per-process log file and the
// collective log file.
//
// The class is declared here, in the lowest layer, because every layer logs
// through it; services/ implements it (with the preference language that
// fills the filter table on the first message).
//
// The call idiom:
//     QEV_LOG(LogStream::PROBLEM, "DataSocket") << "text " << n << std::endl;
// which expands to
//     if (!startMessage(instance(), category, file, line, false)) {
//         instance() << ...; endMessage(instance()); }
//
// Threads: a message holds the log stream's (recursive) lock from
// startMessage to endMessage, so messages of different threads never mix.  A
// message logged while another is being composed in the same thread (a
// value's stream operator that logs) comes out whole on a line of its own,
// and the outer message then goes on where it was.
//
// All state is made on first use, so logging during static initialisation
// and from static destructors is safe.
#ifndef LOGSTREAM_H
#define LOGSTREAM_H

#include <ostream>

class TextString;
struct LogPrefixSettings;

class LogStream {
public:
    enum Category {
        USE = 1,
        EVENT = 2,
        PROBLEM = 4,
        BUG = 8,
        DEBUG = 16,
        VERBOSE = 32,
        DIAG = 64,
        FATAL = 128,
        LOG_STATUS = 256
    };

    enum Sink { TTY = 0, FILE_SINK = 1, COLLECTIVE = 2 };

    // The message stream, made on first use.
    static std::ostream& instance();

    // True: skip (compose nothing, do not call endMessage).  False: write the
    // text into the stream, then call endMessage.  The first call reads the
    // log-preference file.
    static bool startMessage(std::ostream& stream, int category, const char* sourceFile,
                             int line, bool noPrefix);
    static void endMessage(std::ostream& stream);

    // Both files are closed and reopened before the next message (SIGUSR1).
    static void breakFiles();
    // Filtering off: every message is composed and goes to every sink (SIGUSR2).
    static void toggleFiltering();
    // A number that changes whenever what startMessage lets through may
    // change: a filter command (the preference file's, read on the first
    // message, or a call), filtering toggled, the filters reset.  A caller
    // may keep the answers it got while the number stays the same.
    static unsigned filterGeneration();
    static void setAbortMask(unsigned bits, bool on);
    static void setForceEndl(bool on);
    static TextString categoryName(int category);
    static TextString processName(bool fullPath);

    // The one way the filter table changes.  processPattern must be myName
    // or "all"; fileName "all" changes the defaults and every entry.
    static void updateFilterTable(const TextString& myName, const TextString& processPattern,
                                  const TextString& fileName, int sink, unsigned categories,
                                  bool on);
    static void setFilter(const TextString& fileName, int sink, unsigned categories, bool on);
    static void setFilterForProcess(const TextString& processPattern, const TextString& fileName,
                                    int sink, unsigned categories, bool on);
    static void warnCategoryOff(unsigned category);
    static void warnImportantCategoriesOff();
    static void resetFilters();
    static bool lockHook(bool acquire);

    // Sinks, file names and prefixes.
    static TextString formatPrefix(const LogPrefixSettings& settings, int category, int sink,
                                   long seconds, long microseconds, const TextString& sourceFile,
                                   int line, bool noPrefix);
    static void setPrefixFlag(unsigned flags[3], unsigned bit, int sink, bool on);
    static TextString openFiles(bool collective);
    static void breakFile(bool collective);
    static void initPrefixSettings();
    // The process-wide prefix settings (the preference commands change the
    // flags through setPrefixFlag and the verbose-prefix mask directly).
    static LogPrefixSettings& prefixSettings();
};

#define QEV_LOG_AT(category, file, line)                                                    \
    for (bool qevLogGo_ = !LogStream::startMessage(LogStream::instance(), (category), (file), \
                                                   (line), false);                            \
         qevLogGo_; qevLogGo_ = false, LogStream::endMessage(LogStream::instance()))          \
    LogStream::instance()

#define QEV_LOG(category, file) QEV_LOG_AT(category, file, __LINE__)

#endif
