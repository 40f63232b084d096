// The decoder process's receiver of caught signals.  The decoders tell it,
// before each file, the directory they read, their bad-file directory and
// the file they are on; on a dirty shutdown (a crash inside a decoder, an
// alarm) it moves that file into the bad-file directory, once, so that a
// restarted process does not meet it again.  Then the base class logs the
// shutdown and ends the process.
//
// Only a file of the ingest directory is ever moved: nothing while no file
// has been named (the ingest directory itself is never renamed), nor when
// the name is not one entry's ("", ".", "..", a "/" in it), nor when the
// entry is not a regular file or a link to one (a link moves as itself,
// never what it points to).  Once the decoder has opened the file it tells
// its device and inode (setFileIdentity): then only that file moves, not
// another one put at its name since.
//
// The move never replaces a file already in the bad-file directory: a taken
// name gets the first free suffix ".1", ".2", ...  Both directories are
// reached as the decoders reach them: the ingest directory through the
// descriptor of the pass (setDirectoryDescriptor), else like the bad-file
// directory a part at a time (SafeDirectory), so that no link laid in place
// of either takes the file elsewhere.  The two paths are built when the
// texts are set: on the fatal-signal path terminate only makes system calls
// (openat, fstatat, renameat), with nothing allocated.  A clean
// shutdown first runs the process's clean-shutdown hook.
#ifndef BUFRSIGNALCLIENT_H
#define BUFRSIGNALCLIENT_H

#include "SignalClient.h"
#include "TextString.h"

#include <sys/types.h>

class BufrSignalClient : public SignalClient {
public:
    static BufrSignalClient* instance();

    BufrSignalClient();
    ~BufrSignalClient() override;

    void setDirectories(const TextString& sourceDir, const TextString& badDir);
    // A new file: its identity is unknown until setFileIdentity.
    void setFileName(const TextString& fileName);
    // The device and inode of the file named last, as the decoder opened it.
    void setFileIdentity(dev_t device, ino_t inode);
    // The ingest directory as the decoder's pass opened it; -1 outside a
    // pass.
    void setDirectoryDescriptor(int fd) { _sourceFd = fd; }
    // Run by the first clean shutdown before the process ends (the process
    // closes its output files there); null for none.
    void setCleanShutdownHook(void (*hook)()) { _cleanShutdownHook = hook; }

    void terminate(bool clean, int signal) override;

    // sourceDir + "/" + fileName and badDir + "/" + fileName.
    const TextString& sourcePath() const { return _sourcePath; }
    const TextString& badPath() const { return _badPath; }

    // Whether a dirty shutdown now would move sourcePath (see above).
    // Async-signal-safe.
    bool mayMoveFile() const;

private:
    void buildPaths();

    TextString _sourceDir;
    TextString _fileName;
    TextString _badDir;
    TextString _sourcePath;
    TextString _badPath;
    // Whether _fileName names one entry of the source directory.
    bool _entryName;
    int _sourceFd;
    bool _identityKnown;
    dev_t _device;
    ino_t _inode;
    void (*_cleanShutdownHook)();
};

#endif
