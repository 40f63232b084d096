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
    : _p(expression.c_str()), _stacked(false), _nested(false), _minimum(0), _elements(0),
      _fault(nullptr)
{
    _elements = alternatives(0).size;
    if (_stacked)
        _fault = "repeats a repetition";
    else if (_elements > maxElements)
        _fault = "compiles to more than 1000 elements";
    else if (_nested)
        _fault = "repeats a repetition of what may match nothing";
    _p = nullptr;
}

PatternCheck::Piece PatternCheck::alternatives(int depth)
{
    Piece all = branch(depth);
    while (*_p == '|') {
        ++_p;
        const Piece next = branch(depth);
        all.size = add(all.size, add(next.size, 1));
        all.empty = all.empty || next.empty;
        all.emptyDepth = std::max(all.emptyDepth, next.emptyDepth);
    }
    return all;
}

PatternCheck::Piece PatternCheck::branch(int depth)
{
    Piece all{0, true, 0};
    while (*_p && *_p != '|' && !(depth > 0 && *_p == ')')) {
        Piece piece = atom(depth);
        int repetitions = 0;
        for (long n = repetition(); n != 0; n = repetition()) {
            piece.size = add(times(piece.size, n), 1);
            _stacked = _stacked || ++repetitions > 1;
            // A repetition of what may match nothing within another such
            // repetition: the closures regcomp works out for it grow far
            // faster than its elements ((((4{,7}){,7}){,7})* took minutes).
            if (piece.empty && ++piece.emptyDepth > 1)
                _nested = true;
            piece.empty = piece.empty || _minimum == 0;
        }
        all.size = add(all.size, piece.size);
        all.empty = all.empty && piece.empty;
        all.emptyDepth = std::max(all.emptyDepth, piece.emptyDepth);
    }
    return all;
}

PatternCheck::Piece PatternCheck::atom(int depth)
{
    const char c = *_p++;
    if (c == '(') {
        // Deeper than any pattern needs: counted as too large.
        Piece group = depth < 64 ? alternatives(depth + 1) : Piece{beyond, false, 0};
        if (*_p == ')')
            ++_p;
        group.size = add(group.size, 1);
        return group;
    }
    if (c == '\\' && *_p)
        ++_p;
    else if (c == '[')
        skipBracket();
    // The anchors match where they stand, reading nothing.
    return Piece{1, c == '^' || c == '$', 0};
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
        _minimum = 0;
        return 1;
    }
    if (c == '+') {
        ++_p;
        _minimum = 1;
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
    _minimum = low;
    return std::max(std::max(low, high), 1L);
}

long PatternCheck::number()
{
    long n = 0;
    for (; digit(*_p); ++_p)
        n = std::min(n * 10 + (*_p - '0'), beyond);
    return n;
}
