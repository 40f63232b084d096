#include "PatternCheck.h"

#include <algorithm>
#include <cctype>

const long PatternCheck::maxElements;
static_assert(PatternCheck::maxElements == 1000, "the text of fault() names the limit");

namespace {

const long beyond = PatternCheck::maxElements + 1;

long add(long a, long b)
{
    return std::min(a + b, beyond);
}

long times(long a, long n)
{
    return n > 0 && a > beyond / n ? beyond : std::min(a * n, beyond);
}

bool digit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

} // namespace

PatternCheck::PatternCheck(const TextString& expression)
    : _p(expression.c_str()), _stacked(false), _elements(0), _fault(nullptr)
{
    _elements = alternatives(0);
    if (_stacked)
        _fault = "repeats a repetition";
    else if (_elements > maxElements)
        _fault = "compiles to more than 1000 elements";
    _p = nullptr;
}

long PatternCheck::alternatives(int depth)
{
    long size = branch(depth);
    while (*_p == '|') {
        ++_p;
        size = add(size, add(branch(depth), 1));
    }
    return size;
}

long PatternCheck::branch(int depth)
{
    long size = 0;
    while (*_p && *_p != '|' && !(depth > 0 && *_p == ')')) {
        long piece = atom(depth);
        int repetitions = 0;
        for (long n = repetition(); n != 0; n = repetition()) {
            piece = add(times(piece, n), 1);
            _stacked = _stacked || ++repetitions > 1;
        }
        size = add(size, piece);
    }
    return size;
}

long PatternCheck::atom(int depth)
{
    const char c = *_p++;
    if (c == '(') {
        // Deeper than any pattern needs: counted as too large.
        const long size = depth < 64 ? alternatives(depth + 1) : beyond;
        if (*_p == ')')
            ++_p;
        return add(size, 1);
    }
    if (c == '\\' && *_p)
        ++_p;
    else if (c == '[')
        skipBracket();
    return 1;
}

// [...]: a ']' first is a member; [: :], [. .] and [= =] hold their own.
void PatternCheck::skipBracket()
{
    if (*_p == '^')
        ++_p;
    if (*_p == ']')
        ++_p;
    while (*_p && *_p != ']') {
        if (*_p == '[' && (_p[1] == ':' || _p[1] == '.' || _p[1] == '=')) {
            const char kind = _p[1];
            _p += 2;
            while (*_p && !(*_p == kind && _p[1] == ']'))
                ++_p;
            if (*_p)
                _p += 2;
        } else {
            ++_p;
        }
    }
    if (*_p)
        ++_p;
}

// *, ? one copy more, + two, {m}, {m,}, {,m} and {m,n} the largest count
// (and one more).  An omitted minimum, {,m}, is read as {0,m}, as the
// system's regcomp reads it.
long PatternCheck::repetition()
{
    const char c = *_p;
    if (c == '*' || c == '?') {
        ++_p;
        return 1;
    }
    if (c == '+') {
        ++_p;
        return 2;
    }
    if (c != '{' || !(digit(_p[1]) || _p[1] == ','))
        return 0;
    const char* const start = _p;
    ++_p;
    const long low = digit(*_p) ? number() : 0;
    long high = low;
    if (*_p == ',') {
        ++_p;
        high = digit(*_p) ? number() : low + 1;
    }
    if (*_p != '}') {
        _p = start;
        return 0;
    }
    ++_p;
    return std::max(std::max(low, high), 1L);
}

long PatternCheck::number()
{
    long n = 0;
    for (; digit(*_p); ++_p)
        n = std::min(n * 10 + (*_p - '0'), beyond);
    return n;
}
