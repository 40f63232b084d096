// The header at the start of every message: total length (header included),
// the sender's own target, module, priority and type.  On the wire: the
// length as an XDR long, the sender's target form, module and priority as
// ints, the type as a short travelling as an int; 44 bytes for a sender with
// an empty name.
#ifndef IPCHEADER_H
#define IPCHEADER_H

#include <cstdint>

#include "IPC_Target.h"

class IpcHeader {
public:
    // {0, the null target, 0, 0, 0}.
    IpcHeader();
    IpcHeader(int32_t totalLength, const IPC_Target& sender, int module, int priority,
              short type);

    int32_t totalLength() const { return _totalLength; }
    void setTotalLength(int32_t n) { _totalLength = n; }
    const IPC_Target& sender() const { return _sender; }
    int module() const { return _module; }
    int priority() const { return _priority; }
    short type() const { return _type; }

    char* serialize(char* position) const;
    // The encoded size of this header; it depends on the sender's name.
    int length() const;
    // Reads the five fields within [position, end) and returns the position
    // of the body; null (logged) when they do not fit.
    char* quantize(char* position, const char* end);

private:
    int32_t _totalLength;
    IPC_Target _sender;
    int _module;
    int _priority;
    short _type;
};

#endif
