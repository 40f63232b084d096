#include "IpcHeader.h"

#include "serializeQuantize.h"

IpcHeader::IpcHeader() : _totalLength(0), _module(0), _priority(0), _type(0) {}

IpcHeader::IpcHeader(int32_t totalLength, const IPC_Target& sender, int module, int priority,
                     short type)
    : _totalLength(totalLength), _sender(sender), _module(module), _priority(priority),
      _type(type)
{
}

char* IpcHeader::serialize(char* position) const
{
    char* next = xdrSerialize(static_cast<long>(_totalLength), position);
    next = _sender.serialize(next);
    return xdrSerializeAll(next, _module, _priority, _type);
}

int IpcHeader::length() const
{
    return xdrLength(static_cast<long>(_totalLength)) + _sender.length() +
           xdrLengthAll(_module, _priority, _type);
}

char* IpcHeader::quantize(char* position, const char* end)
{
    long totalLength = 0;
    IPC_Target sender;
    int module = 0, priority = 0;
    short type = 0;
    char* next = xdrQuantize(totalLength, position, end);
    next = sender.quantize(next, end);
    next = xdrQuantizeAll(next, end, module, priority, type);
    if (!next)
        return nullptr;
    *this = IpcHeader(static_cast<int32_t>(totalLength), sender, module, priority, type);
    return next;
}
