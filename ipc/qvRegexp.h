// The routing layer's own regular-expression engine: a node compiler and a
// backtracking matcher over the compiled node program.
//
// Syntax: alternatives separated by '|'; a piece is an atom optionally
// followed by '*', '+' or '?'; atoms are '.', '^', '$', a class "[...]" or
// "[^...]" (a ']' or '-' right after the opening bracket is literal, "a-z"
// is a range, a '-' before the closing bracket is literal), a group
// "(...)", a backslash and the character after it, or a run of ordinary
// characters.  Up to 23 groups.  No counted repetitions, back-references or
// named classes.
//
// Every error is one line "regexp(3): <message>" on standard error (without
// a newline); qvRegcomp then returns null and qvRegexec 0, and the process
// goes on.
//
// The engine keeps its compile and match state in process-wide variables:
// main thread only, one call at a time.  A match is bounded in recursion
// depth and in work: a pathological expression or a very long text fails
// with "match too deep" or "match too long" instead of overflowing the stack
// or running for ever.
#ifndef QVREGEXP_H
#define QVREGEXP_H

enum {
    QV_NSUBEXP = 24,         // entry 0 the whole match, then groups 1 to 23
    QV_MAX_PROGRAM = 32767,  // a program must stay below this many bytes
    QV_MAX_DEPTH = 5000,     // nested node matches of one try
    QV_MAX_STEPS = 10000000  // nodes and characters visited by one qvRegexec
};

// A compiled expression: one malloc block, released by the caller with
// free.  The node program follows the fixed fields in the same block.
struct QvRegexp {
    const char* startp[QV_NSUBEXP];  // start of the whole match and of each group
    const char* endp[QV_NSUBEXP];    // their ends
    char regstart;                   // the character every match begins with, or 0
    char reganch;                    // 1: anchored at the beginning of the text
    char* regmust;                   // a literal in the program every match contains, or null
    int regmlen;                     // its length
    char program[1];                 // the node program, magic byte first
};

// Compiles the expression; null after an error.
QvRegexp* qvRegcomp(const char* expression);
// 1 when the expression matches somewhere in the text (startp and endp
// filled for the match), else 0.
int qvRegexec(QvRegexp* program, const char* text);
// Writes "regexp(3): " and the message to standard error, no newline.
void qvRegerror(const char* message);

#endif
