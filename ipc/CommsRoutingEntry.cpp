#include "CommsRoutingEntry.h"

#include <cstdlib>
#include <ostream>

#include "LogStream.h"
#include "productKeyPatterns.h"

CommsRoutingEntry::CommsRoutingEntry(const IPC_Target& target, const TextString& pattern)
    : _target(target), _pattern(pattern), _compiled(compileRegExp(pattern.c_str()))
{
}

CommsRoutingEntry::~CommsRoutingEntry()
{
    std::free(_compiled);
}

void CommsRoutingEntry::recompile(const TextString& pattern)
{
    std::free(_compiled);
    _compiled = compileRegExp(pattern.c_str());
}

bool CommsRoutingEntry::matches(const char* key) const
{
    QEV_LOG(LogStream::VERBOSE, "CommsRoutingEntry") << "matches: trying to match key"
                                                     << std::endl;
    if (!_compiled)
        return false;
    QEV_LOG(LogStream::VERBOSE, "CommsRoutingEntry") << "Entering comparePattern" << std::endl;
    return matchRegExp(_compiled, key);
}

void CommsRoutingEntry::print(std::ostream& out) const
{
    out << _target.address() << " " << _pattern;
}

std::ostream& operator<<(std::ostream& out, const CommsRoutingEntry& entry)
{
    entry.print(out);
    return out;
}
