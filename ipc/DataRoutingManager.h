// DataRoutingManager: the data controller side of the data-capture
// protocol, in a router process.  It starts the router's child programs
// from its configuration file and supervises them, keeps the routing table
// of its clients (each a target with a data pattern, registered by a
// DataReqMsg), asks the comms router for the data of all their patterns,
// and hands each data item the comms router delivers to every client whose
// pattern matches: one item per ReadyMsg, the rest waiting in the client's
// queue.  The data-capture receiver made with the manager feeds it the
// clients' DataReqMsgs and ReadyMsgs.
//
// Configuration file of the children: one line per child, its words the
// executable's name (the program is "$QEV_HOME/bin/<name>"), the restart
// flag ("true" restarts the child whenever it exits) and, optionally, one
// argument for the child; a first word "eof" ends the file.  Each child is
// started as a program of the system's own environment: with this
// process's target and its unique id before its argument.  A line longer
// than 511 characters, a name or argument longer than 255, a flag longer
// than 15 or a line without a flag is skipped with a log line.
//
// The routing table is class-wide, made by the first construction and kept
// by later ones.  Main thread only.
#ifndef DATAROUTINGMANAGER_H
#define DATAROUTINGMANAGER_H

#include "ChildProcessClient.h"
#include "TextString.h"

class ChildProcessSet;
class DataRoutingEntry;
class IPC_Target;

class DataRoutingManager : public ChildProcessClient {
public:
    enum {
        CONFIG_LINE_MAX = 511,
        CONFIG_WORD_MAX = 255,
        RESTART_FLAG_MAX = 15,
        MOST_RESTARTS = 50,         // in all, before a child is given up
        WINDOW_RESTARTS = 8,        // within one window of the restart policy
        WINDOW_SECONDS = 10
    };
    // Wall-clock seconds (any origin) and a pause, both replaceable by tests.
    typedef double (*Clock)();
    typedef void (*Pause)(unsigned seconds);

    // routerName: the comms router's target text (normally a named target).
    DataRoutingManager(const TextString& routerName, const TextString& configFileName);
    virtual ~DataRoutingManager();

    // Starts the children of the configuration file: how many started (0
    // when the file cannot be opened).
    int startChildren();
    // Stops every child without restart, pausing a second after each; the
    // routing entries of each child go with it.
    void stopChildren();
    // The clients' patterns joined with "|", each unless it is already part
    // of the text.
    TextString compositePattern() const;
    // Asks the comms router for the data matching the pattern, delivered to
    // routeData.
    void requestData(const TextString& pattern);
    // A client's DataReqMsg.  A target already in the table gets the new
    // pattern compiled in; an entry of the same pattern that lost its
    // target to a restart gets this target; otherwise a new entry.  The
    // request of a process that was a child of the set and left it (it was
    // stopped, exited, or restarted under a new pid) is ignored.
    void registerClient(const IPC_Target& target, const TextString& pattern);
    // A client's ReadyMsg: the oldest item waiting for it is sent, or the
    // client is marked ready.
    void targetReady(const IPC_Target& target);
    // The comms data callback: the item goes to every matching client that
    // is ready and waits in the queue of every other.  Nothing while no
    // manager exists.
    static void routeData(TextString* key, long productId, long length, unsigned char* bytes);
    // The restart policy: a child restarted more than 50 times in all, or 8
    // times or more within a window judged after 10 seconds, loses its
    // auto-restart.  One window for all children of the process.
    void checkAutoRestart(ChildProcess* child);

    void childStarted(ChildProcess* child) override;
    void childExited(ChildProcess* child) override;
    void childRestarted(ChildProcess* child) override;
    void childRestartedStarted(ChildProcess* child) override;

    // The routing table, in order of registration.
    static int entryCount();
    static const DataRoutingEntry* entry(int i);

    // Null restores the real one.  A new clock opens a new window.
    static void setRestartClock(Clock clock);
    static void setStopPause(Pause pause);

private:
    // The first entry of the target, or null (also for the null target).
    static DataRoutingEntry* entryOf(const IPC_Target& target);

    TextString _routerName;
    TextString _configFileName;
    ChildProcessSet* _children;
};

#endif
