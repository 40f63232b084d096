// The decoder process's receiver of caught signals.  The decoders tell it,
// before each file, the directory they read, their bad-file directory and
// the file they are on; on a dirty shutdown (a crash inside a decoder, an
// alarm) it moves that file into the bad-file directory, once, so that a
// restarted process does not meet it again.  Then the base class logs the
// shutdown and ends the process.
//
// The move never replaces a file already in the bad-file directory: a taken
// name gets the first free suffix ".1", ".2", ...  The two paths are built
// when the texts are set: on the fatal-signal path terminate only makes
// system calls, with nothing allocated.  A clean shutdown first runs the
// process's clean-shutdown hook.
#ifndef BUFRSIGNALCLIENT_H
#define BUFRSIGNALCLIENT_H

#include "SignalClient.h"
#include "TextString.h"

class BufrSignalClient : public SignalClient {
public:
    static BufrSignalClient* instance();

    BufrSignalClient();
    ~BufrSignalClient() override;

    void setDirectories(const TextString& sourceDir, const TextString& badDir);
    void setFileName(const TextString& fileName);
    // Run by the first clean shutdown before the process ends (the process
    // closes its output files there); null for none.
    void setCleanShutdownHook(void (*hook)()) { _cleanShutdownHook = hook; }

    void terminate(bool clean, int signal) override;

    // sourceDir + "/" + fileName and badDir + "/" + fileName.
    const TextString& sourcePath() const { return _sourcePath; }
    const TextString& badPath() const { return _badPath; }

private:
    void buildPaths();

    TextString _sourceDir;
    TextString _fileName;
    TextString _badDir;
    TextString _sourcePath;
    TextString _badPath;
    void (*_cleanShutdownHook)();
};

#endif
