// CommsRoutingEntry: one client of a router, its IPC target and its data
// pattern with the pattern compiled by the routing layer's engine.  A
// pattern that does not compile leaves the entry matching nothing.  The
// entry owns its compiled pattern.  Also the base of the data router's
// entries.
#ifndef COMMSROUTINGENTRY_H
#define COMMSROUTINGENTRY_H

#include <iosfwd>

#include "IPC_Target.h"
#include "TextString.h"

struct QvRegexp;

class CommsRoutingEntry {
public:
    CommsRoutingEntry(const IPC_Target& target, const TextString& pattern);
    CommsRoutingEntry(const CommsRoutingEntry&) = delete;
    CommsRoutingEntry& operator=(const CommsRoutingEntry&) = delete;
    ~CommsRoutingEntry();

    // Whether the compiled pattern matches anywhere in the key.
    bool matches(const char* key) const;
    // Equality of targets, which ignores the pid.
    bool isTarget(const IPC_Target& target) const { return _target == target; }

    const IPC_Target& target() const { return _target; }
    void setTarget(const IPC_Target& target) { _target = target; }
    const TextString& pattern() const { return _pattern; }
    // Compiles a new pattern in place of the old; the pattern text stays.
    void recompile(const TextString& pattern);

    // The entry's line of the clients file (without the newline): the
    // target's text form, one blank, the pattern.
    void print(std::ostream& out) const;

private:
    IPC_Target _target;
    TextString _pattern;
    QvRegexp* _compiled;
};

std::ostream& operator<<(std::ostream& out, const CommsRoutingEntry& entry);

#endif
