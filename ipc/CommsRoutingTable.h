// CommsRoutingTable: the client list of a comms router.  Each client is an
// IPC target with a data pattern; each data message the router receives goes
// to every client whose pattern matches the product's key.
//
// The table lives in memory and in the clients file
// "$QEV_DATA/workFiles/<router name>_clients.txt", one line per client in
// table order ("<target text> <pattern>"), so that a restarted router can
// reconnect its clients (load).  The file is rewritten after every change:
// written whole under a scratch name and renamed over the old one, so that a
// crash never leaves it half-written; it is removed when the table becomes
// empty.  A pattern therefore holds no whitespace.
//
// The table owns its entries.  Main thread only.
#ifndef COMMSROUTINGTABLE_H
#define COMMSROUTINGTABLE_H

#include "SeqOfPtr.h"
#include "TextString.h"

class CommsRoutingEntry;
class IPC_Target;

class CommsRoutingTable {
public:
    enum {
        CLIENT_LINE_MAX = 8191,  // the longest line of the clients file
        CLIENT_WORD_MAX = 4095   // its longest target text or pattern
    };

    // Empty; the file name is "$QEV_DATA/workFiles/" until load.
    CommsRoutingTable();
    CommsRoutingTable(const CommsRoutingTable&) = delete;
    CommsRoutingTable& operator=(const CommsRoutingTable&) = delete;
    ~CommsRoutingTable();

    // The process's table, made on first use and kept to exit.
    static CommsRoutingTable* instance();

    // Completes the file name with the router's name (call it once), sends
    // each client of the file the router's restart notice and keeps those
    // whose send succeeds; then saves.  1 when the file was read, 0 when
    // there was none.
    int load(const TextString& name);
    // Rewrites the file (removes it when the table is empty): 1, or 0
    // (logged) when it cannot be written; the table does not change.
    int save();
    // The target's entry (if any) goes, then a new one goes last; saved
    // both times.  A pattern that is empty or holds whitespace cannot be
    // kept in the file: refused (logged), 0.
    int addClient(const IPC_Target& target, const TextString& pattern);
    // The first entry of the target goes; saved in every case.
    int removeClient(const IPC_Target& target);
    // Sends one CDMsg with the key, product id and length bytes to every
    // client whose pattern matches the key, from the last registered to the
    // first; a client whose send fails is removed.
    void routeData(TextString* key, long productId, long length, unsigned char* bytes);

    const TextString& fileName() const { return _fileName; }
    int count() const { return _entries.length(); }
    const CommsRoutingEntry* entry(int i) const { return _entries[i]; }

private:
    // save() for a client that registered or went: the failure lines about
    // one client are capped (PeerLineCap), as a client may register again
    // and again.
    int saveFor(const IPC_Target& client);

    TextString _fileName;
    SeqOfPtr<CommsRoutingEntry*> _entries;
};

#endif
