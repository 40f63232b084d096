// PeerLineCap: keeps a peer that sends the same message again and again
// from writing the same log line each time.  A message the process does not
// serve (a registration, a message no receiver takes, a malformed one) costs
// a peer nothing to repeat, and 20,000 of them would write 20,000 lines.
//
// Of each kind of line (its category, source file and fixed text) about
// each peer, the first FIRST_LINES are written and the rest counted.  The
// count goes out as one line when the peer has sent none of that kind for
// QUIET_SECONDS (a new burst then has its first lines written again), and
// every SUMMARY_SECONDS while they go on; the event wait wakes for it
// (dueInMillis, writeDue), and what is left is written when the process
// ends.  At most MAX_PEERS peers are told apart at a time: the lines about
// further peers are counted together, as about "other peers".
//
//     if (PeerLineCap::admit(LogStream::PROBLEM, sourceFile, "no receiver", sender))
//         QEV_LOG(LogStream::PROBLEM, sourceFile) << ... << std::endl;
//
// Main thread only.
#ifndef PEERLINECAP_H
#define PEERLINECAP_H

#include <cstdint>

class IPC_Target;

class PeerLineCap {
public:
    enum { FIRST_LINES = 5, QUIET_SECONDS = 5, SUMMARY_SECONDS = 300, MAX_PEERS = 64 };

    // Whether the line is to be written now; otherwise it is counted.  kind
    // names the line in the count's line; sourceFile is the line's own.
    static bool admit(int category, const char* sourceFile, const char* kind,
                      const IPC_Target& peer);
    // Milliseconds until a count is due, -1 when none is waiting.
    static int64_t dueInMillis();
    // Writes the counts that are due.
    static void writeDue();
    // Writes every count waiting.
    static void writeAll();
};

#endif
