// Whether an extended regular expression of a pattern file may be given to
// the system's regcomp, which writes every repetition out (a{3} as aaa, a+
// as aa*) and then works out, for every element, the elements it reaches
// without reading a character: stacked and nested repetitions multiply the
// first and square the second, so that a short line can ask for gigabytes
// and hours (47 '+' after one character took 2.4 GB).  A product or
// designator pattern needs a few dozen elements.
//
// Refused: more than maxElements elements (counted as regcomp writes them
// out, an upper bound, also of an expression whose parentheses do not
// match, which regcomp writes out before it finds that), counting every
// repetition regcomp takes: *, +, ?, {m}, {m,}, {,m} (read as {0,m}) and
// {m,n}, nested or not; a repetition operator right after another (a+*,
// a{2}+), whose meaning POSIX leaves undefined; a repetition of what may
// match nothing (a group of optional parts) that holds another such
// repetition, ((a?){,9})* or (((a{,7}){,7}){,7}): regcomp's work for those
// grows by powers of their counts, not with their elements.  The reading is lenient:
// what regcomp refuses anyway may pass.
#ifndef PATTERNCHECK_H
#define PATTERNCHECK_H

#include "TextString.h"

class PatternCheck {
public:
    static const long maxElements = 1000;

    explicit PatternCheck(const TextString& expression);

    // Why the expression is refused, in words that follow it in a log line;
    // null when it is not.
    const char* fault() const { return _fault; }
    // The elements it compiles to, at most maxElements + 1.
    long elements() const { return _elements; }

private:
    // What a part of the expression compiles to: its elements, whether it
    // may match the empty string, and how deep repetitions of what may
    // match nothing are nested in it.
    struct Piece {
        long size;
        bool empty;
        int emptyDepth;
    };

    Piece alternatives(int depth);
    Piece branch(int depth);
    Piece atom(int depth);
    void skipBracket();
    // The copies a repetition operator at the position makes of what it
    // follows, or 0 when none stands there; its least count in _minimum.
    long repetition();
    long number();

    const char* _p;
    bool _stacked;
    bool _nested;
    long _minimum;
    long _elements;
    const char* _fault;
};

#endif
