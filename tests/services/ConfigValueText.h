// Configuration values as text, for tests that compare what a Config holds.
#ifndef CONFIGVALUETEXT_H
#define CONFIGVALUETEXT_H

#include "Config.h"

#include <sstream>
#include <string>

namespace ConfigValueText {

template <class T>
std::string text(const T& v)
{
    std::ostringstream out;
    out << v;
    return out.str();
}

// The value stored under name in its text form (a sequence's elements
// separated by blanks), or "absent".
template <class T>
std::string value(const Config& c, const char* name)
{
    T v{};
    return c.getValue(name, v) ? text(v) : "absent";
}

template <class T>
std::string values(const Config& c, const char* name)
{
    SeqOf<T> v;
    if (!c.getValue(name, v))
        return "absent";
    const SeqOf<T>& elements = v;
    std::string out;
    for (int i = 0; i < elements.length(); ++i)
        out += (i ? " " : "") + text(elements[i]);
    return out;
}

} // namespace ConfigValueText

#endif
