#include "qvRegexp.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// The node program.  Each node is an opcode byte, a two-byte big-endian
// offset to the next node (0: none; a BACK node's offset points backwards)
// and an operand: a zero-terminated text for EXACTLY, ANYOF and ANYBUT, a
// node sequence for BRANCH, STAR and PLUS, nothing for the rest.
//
// x* on a simple atom is STAR x, otherwise it is built as (x&|) with '&'
// a BACK to the BRANCH; x+ is PLUS x, or x(&|); x? is (x|).  The ends of
// every alternative of a BRANCH chain point at the node behind the chain.

namespace {

enum Opcode {
    END = 0,
    BOL = 1,
    EOL = 2,
    ANY = 3,
    ANYOF = 4,
    ANYBUT = 5,
    BRANCH = 6,
    BACK = 7,
    EXACTLY = 8,
    NOTHING = 9,
    STAR = 10,
    PLUS = 11,
    OPEN = 20,   // OPEN + n: start of group n
    CLOSE = 45   // CLOSE + n: end of group n
};

const unsigned char MAGIC = 0234;
const char* const META = "^$.[()|?+*\\";

// Flags of a parsed piece.
enum {
    WORST = 0,     // nothing known
    HASWIDTH = 1,  // never matches the empty text
    SIMPLE = 2,    // one simple node: STAR and PLUS take it as operand
    SPSTART = 4    // starts with * or +
};

inline int op(const char* p)
{
    return static_cast<unsigned char>(*p);
}
inline int nextOffset(const char* p)
{
    return (static_cast<unsigned char>(p[1]) << 8) | static_cast<unsigned char>(p[2]);
}
inline char* operand(char* p)
{
    return p + 3;
}
inline bool isMult(char c)
{
    return c == '*' || c == '+' || c == '?';
}

// ---- compile state ----------------------------------------------------

const char* regparse;  // input position
int regnpar;           // () count
char regdummy;         // where the first pass "emits"
char* regcode;         // code emit position; &regdummy in the first pass
long regsize;          // program size counted by the first pass

// ---- match state ------------------------------------------------------

const char* reginput;   // text position
const char* regbol;     // beginning of the text
const char** regstartp; // group starts of the expression being matched
const char** regendp;   // group ends
int regdepth;           // nested regmatch calls of the try in progress
long regsteps;          // work done by the qvRegexec in progress
bool regaborted;        // a bound was reached: the whole qvRegexec fails

char* fail(const char* message)
{
    qvRegerror(message);
    return nullptr;
}

char* regnext(char* p)
{
    if (p == &regdummy)
        return nullptr;
    const int offset = nextOffset(p);
    if (offset == 0)
        return nullptr;
    return op(p) == BACK ? p - offset : p + offset;
}

// Emits one node; returns its place.
char* regnode(int code)
{
    char* ret = regcode;
    if (ret == &regdummy) {
        regsize += 3;
        return ret;
    }
    *regcode++ = static_cast<char>(code);
    *regcode++ = '\0';
    *regcode++ = '\0';
    return ret;
}

void regc(char b)
{
    if (regcode != &regdummy)
        *regcode++ = b;
    else
        ++regsize;
}

// Inserts a node in front of the operand, moving the operand up.
void reginsert(int code, char* opnd)
{
    if (regcode == &regdummy) {
        regsize += 3;
        return;
    }
    char* src = regcode;
    regcode += 3;
    char* dst = regcode;
    while (src > opnd)
        *--dst = *--src;
    opnd[0] = static_cast<char>(code);
    opnd[1] = '\0';
    opnd[2] = '\0';
}

// Sets the next-pointer of the last node of a chain.
void regtail(char* p, char* val)
{
    if (p == &regdummy)
        return;
    char* scan = p;
    for (char* temp; (temp = regnext(scan)) != nullptr;)
        scan = temp;
    const long offset = op(scan) == BACK ? scan - val : val - scan;
    scan[1] = static_cast<char>((offset >> 8) & 0377);
    scan[2] = static_cast<char>(offset & 0377);
}

// regtail on the operand of a BRANCH; nothing for any other node.
void regoptail(char* p, char* val)
{
    if (p == nullptr || p == &regdummy || op(p) != BRANCH)
        return;
    regtail(operand(p), val);
}

char* reg(bool paren, int* flagp);

// The lowest level: one atom.
char* regatom(int* flagp)
{
    char* ret;
    int flags;
    *flagp = WORST;
    switch (*regparse++) {
    case '^':
        ret = regnode(BOL);
        break;
    case '$':
        ret = regnode(EOL);
        break;
    case '.':
        ret = regnode(ANY);
        *flagp |= HASWIDTH | SIMPLE;
        break;
    case '[': {
        if (*regparse == '^') {
            ret = regnode(ANYBUT);
            ++regparse;
        } else {
            ret = regnode(ANYOF);
        }
        if (*regparse == ']' || *regparse == '-')
            regc(*regparse++);
        while (*regparse != '\0' && *regparse != ']') {
            if (*regparse == '-') {
                ++regparse;
                if (*regparse == ']' || *regparse == '\0') {
                    regc('-');
                } else {
                    int range = static_cast<unsigned char>(regparse[-2]) + 1;
                    const int rangeEnd = static_cast<unsigned char>(*regparse);
                    if (range > rangeEnd + 1)
                        return fail("invalid [] range");
                    for (; range <= rangeEnd; ++range)
                        regc(static_cast<char>(range));
                    ++regparse;
                }
            } else {
                regc(*regparse++);
            }
        }
        regc('\0');
        if (*regparse != ']')
            return fail("unmatched []");
        ++regparse;
        *flagp |= HASWIDTH | SIMPLE;
        break;
    }
    case '(':
        ret = reg(true, &flags);
        if (ret == nullptr)
            return nullptr;
        *flagp |= flags & (HASWIDTH | SPSTART);
        break;
    case '\0':
    case '|':
    case ')':
        return fail("internal urp");  // caught by the callers
    case '?':
    case '+':
    case '*':
        return fail("?+* follows nothing");
    case '\\':
        if (*regparse == '\0')
            return fail("trailing \\");
        ret = regnode(EXACTLY);
        regc(*regparse++);
        regc('\0');
        *flagp |= HASWIDTH | SIMPLE;
        break;
    default: {
        --regparse;
        size_t len = std::strcspn(regparse, META);
        if (len == 0)
            return fail("internal disaster");
        // A run followed by a repetition operator gives it its last character.
        if (len > 1 && isMult(regparse[len]))
            --len;
        *flagp |= HASWIDTH;
        if (len == 1)
            *flagp |= SIMPLE;
        ret = regnode(EXACTLY);
        for (; len > 0; --len)
            regc(*regparse++);
        regc('\0');
        break;
    }
    }
    return ret;
}

// An atom with its repetition operator, if any.
char* regpiece(int* flagp)
{
    int flags;
    char* ret = regatom(&flags);
    if (ret == nullptr)
        return nullptr;
    const char c = *regparse;
    if (!isMult(c)) {
        *flagp = flags;
        return ret;
    }
    if (!(flags & HASWIDTH) && c != '?')
        return fail("*+ operand could be empty");
    *flagp = c != '+' ? (WORST | SPSTART) : (WORST | HASWIDTH);

    if (c == '*' && (flags & SIMPLE)) {
        reginsert(STAR, ret);
    } else if (c == '*') {
        reginsert(BRANCH, ret);          // either x
        regoptail(ret, regnode(BACK));   // and loop
        regoptail(ret, ret);             // back
        regtail(ret, regnode(BRANCH));   // or
        regtail(ret, regnode(NOTHING));  // null
    } else if (c == '+' && (flags & SIMPLE)) {
        reginsert(PLUS, ret);
    } else if (c == '+') {
        char* next = regnode(BRANCH);    // either
        regtail(ret, next);
        regtail(regnode(BACK), ret);     // loop back
        regtail(next, regnode(BRANCH));  // or
        regtail(ret, regnode(NOTHING));  // null
    } else {
        reginsert(BRANCH, ret);          // either x
        regtail(ret, regnode(BRANCH));   // or
        char* next = regnode(NOTHING);   // null
        regtail(ret, next);
        regoptail(ret, next);
    }
    ++regparse;
    if (isMult(*regparse))
        return fail("nested *?+");
    return ret;
}

// One alternative: a chain of pieces behind a BRANCH node.
char* regbranch(int* flagp)
{
    *flagp = WORST;
    char* ret = regnode(BRANCH);
    char* chain = nullptr;
    while (*regparse != '\0' && *regparse != '|' && *regparse != ')') {
        int flags;
        char* latest = regpiece(&flags);
        if (latest == nullptr)
            return nullptr;
        *flagp |= flags & HASWIDTH;
        if (chain == nullptr)
            *flagp |= flags & SPSTART;
        else
            regtail(chain, latest);
        chain = latest;
    }
    if (chain == nullptr)
        regnode(NOTHING);
    return ret;
}

// The main body or a parenthesised part: alternatives, then the closing
// node that every alternative's end points at.
char* reg(bool paren, int* flagp)
{
    int parno = 0;
    char* ret = nullptr;
    int flags;
    *flagp = HASWIDTH;
    if (paren) {
        if (regnpar >= QV_NSUBEXP)
            return fail("too many ()");
        parno = regnpar++;
        ret = regnode(OPEN + parno);
    }
    char* br = regbranch(&flags);
    if (br == nullptr)
        return nullptr;
    if (ret != nullptr)
        regtail(ret, br);
    else
        ret = br;
    if (!(flags & HASWIDTH))
        *flagp &= ~HASWIDTH;
    *flagp |= flags & SPSTART;
    while (*regparse == '|') {
        ++regparse;
        br = regbranch(&flags);
        if (br == nullptr)
            return nullptr;
        regtail(ret, br);
        if (!(flags & HASWIDTH))
            *flagp &= ~HASWIDTH;
        *flagp |= flags & SPSTART;
    }
    char* ender = regnode(paren ? CLOSE + parno : END);
    regtail(ret, ender);
    for (br = ret; br != nullptr; br = regnext(br))
        regoptail(br, ender);
    if (paren && *regparse++ != ')')
        return fail("unmatched ()");
    if (!paren && *regparse != '\0') {
        if (*regparse == ')')
            return fail("unmatched ()");
        return fail("junk on end");
    }
    return ret;
}

// ---- matching ---------------------------------------------------------

// Counts work; false (reported once) when the bound is passed.
bool spend(long steps)
{
    if (regaborted)
        return false;
    regsteps += steps;
    if (regsteps > QV_MAX_STEPS) {
        regaborted = true;
        qvRegerror("match too long");
        return false;
    }
    return true;
}

// How many times the simple operand node matches from the text position
// on; the position moves behind them.
int regrepeat(char* p)
{
    int count = 0;
    const char* scan = reginput;
    const char* opnd = operand(p);
    switch (op(p)) {
    case ANY:
        count = static_cast<int>(std::strlen(scan));
        scan += count;
        break;
    case EXACTLY:
        while (*opnd == *scan) {
            ++count;
            ++scan;
        }
        break;
    case ANYOF:
        while (*scan != '\0' && std::strchr(opnd, *scan) != nullptr) {
            ++count;
            ++scan;
        }
        break;
    case ANYBUT:
        while (*scan != '\0' && std::strchr(opnd, *scan) == nullptr) {
            ++count;
            ++scan;
        }
        break;
    default:
        qvRegerror("internal foulup");
        count = 0;
        break;
    }
    reginput = scan;
    spend(count);
    return count;
}

bool regmatch(char* prog);

// regmatch one level deeper, within the depth bound.
bool regmatchDeeper(char* prog)
{
    if (regaborted)
        return false;
    if (regdepth >= QV_MAX_DEPTH) {
        regaborted = true;
        qvRegerror("match too deep");
        return false;
    }
    ++regdepth;
    const bool matched = regmatch(prog);
    --regdepth;
    return matched;
}

// The rest of the program behind a group's OPEN or CLOSE node; on success
// the node's position is recorded, unless it is already.  Positions are set
// on the way back, so the last pass through the group that led to the
// match wins.
bool regmatchGroupEnd(char* next, const char*& recorded)
{
    const char* save = reginput;
    if (!regmatchDeeper(next))
        return false;
    if (recorded == nullptr)
        recorded = save;
    return true;
}

// Matches the program from the node on at the text position.  Simple nodes
// are matched in the loop; a choice recurses.
bool regmatch(char* prog)
{
    char* scan = prog;
    while (scan != nullptr) {
        if (!spend(1))
            return false;
        char* next = regnext(scan);
        const int code = op(scan);
        switch (code) {
        case BOL:
            if (reginput != regbol)
                return false;
            break;
        case EOL:
            if (*reginput != '\0')
                return false;
            break;
        case ANY:
            if (*reginput == '\0')
                return false;
            ++reginput;
            break;
        case EXACTLY: {
            const char* opnd = operand(scan);
            if (*opnd != *reginput)
                return false;
            const size_t len = std::strlen(opnd);
            if (len > 1 && std::strncmp(opnd, reginput, len) != 0)
                return false;
            reginput += len;
            break;
        }
        case ANYOF:
            if (*reginput == '\0' || std::strchr(operand(scan), *reginput) == nullptr)
                return false;
            ++reginput;
            break;
        case ANYBUT:
            if (*reginput == '\0' || std::strchr(operand(scan), *reginput) != nullptr)
                return false;
            ++reginput;
            break;
        case NOTHING:
        case BACK:
            break;
        case BRANCH:
            if (next == nullptr || op(next) != BRANCH) {
                next = operand(scan);  // no choice: avoid the recursion
            } else {
                do {
                    const char* save = reginput;
                    if (regmatchDeeper(operand(scan)))
                        return true;
                    if (regaborted)
                        return false;
                    reginput = save;
                    scan = regnext(scan);
                } while (scan != nullptr && op(scan) == BRANCH);
                return false;
            }
            break;
        case STAR:
        case PLUS: {
            // A literal behind the repetition lets tries that cannot
            // continue be skipped without recursion.
            const char nextch = next && op(next) == EXACTLY ? *operand(next) : '\0';
            const int min = code == STAR ? 0 : 1;
            const char* save = reginput;
            int no = regrepeat(operand(scan));
            while (no >= min) {
                if (nextch == '\0' || *reginput == nextch) {
                    if (regmatchDeeper(next))
                        return true;
                }
                if (!spend(1))
                    return false;
                --no;
                reginput = save + no;
            }
            return false;
        }
        case END:
            return true;
        default:
            if (code > OPEN && code < OPEN + QV_NSUBEXP)
                return regmatchGroupEnd(next, regstartp[code - OPEN]);
            if (code > CLOSE && code < CLOSE + QV_NSUBEXP)
                return regmatchGroupEnd(next, regendp[code - CLOSE]);
            qvRegerror("memory corruption");
            return false;
        }
        scan = next;
    }
    // The program ran off its end without an END node.
    qvRegerror("corrupted pointers");
    return false;
}

// One try at one text position.
bool regtry(QvRegexp* prog, const char* text)
{
    reginput = text;
    regstartp = prog->startp;
    regendp = prog->endp;
    for (int i = 0; i < QV_NSUBEXP; ++i) {
        prog->startp[i] = nullptr;
        prog->endp[i] = nullptr;
    }
    regdepth = 0;
    if (!regmatch(prog->program + 1))
        return false;
    prog->startp[0] = text;
    prog->endp[0] = reginput;
    return true;
}

}  // namespace

void qvRegerror(const char* message)
{
    std::fprintf(stderr, "regexp(3): %s", message);
}

QvRegexp* qvRegcomp(const char* expression)
{
    if (expression == nullptr) {
        fail("NULL argument");
        return nullptr;
    }
    int flags;

    // First pass: the size, and the syntax checked.
    regparse = expression;
    regnpar = 1;
    regsize = 0;
    regcode = &regdummy;
    regc(static_cast<char>(MAGIC));
    if (reg(false, &flags) == nullptr)
        return nullptr;
    if (regsize >= QV_MAX_PROGRAM) {
        fail("regexp too big");
        return nullptr;
    }

    QvRegexp* r = static_cast<QvRegexp*>(
        std::malloc(offsetof(QvRegexp, program) + static_cast<size_t>(regsize)));
    if (r == nullptr) {
        fail("out of space");
        return nullptr;
    }

    // Second pass: the code.
    regparse = expression;
    regnpar = 1;
    regcode = r->program;
    regc(static_cast<char>(MAGIC));
    if (reg(false, &flags) == nullptr) {
        std::free(r);
        return nullptr;
    }

    // The short-cuts of a single top-level alternative.
    r->regstart = '\0';
    r->reganch = 0;
    r->regmust = nullptr;
    r->regmlen = 0;
    for (int i = 0; i < QV_NSUBEXP; ++i) {
        r->startp[i] = nullptr;
        r->endp[i] = nullptr;
    }
    char* scan = r->program + 1;
    const char* behind = regnext(scan);
    if (behind != nullptr && op(behind) == END) {
        scan = operand(scan);
        if (op(scan) == EXACTLY)
            r->regstart = *operand(scan);
        else if (op(scan) == BOL)
            r->reganch = 1;
        // An alternative that starts with a repetition is costly to try at
        // every position: a literal every match must contain rules out most
        // texts at once.  The longest one, a later one of equal length
        // winning.
        if (flags & SPSTART) {
            char* longest = nullptr;
            size_t len = 0;
            for (; scan != nullptr; scan = regnext(scan)) {
                if (op(scan) == EXACTLY && std::strlen(operand(scan)) >= len) {
                    longest = operand(scan);
                    len = std::strlen(operand(scan));
                }
            }
            r->regmust = longest;
            r->regmlen = static_cast<int>(len);
        }
    }
    return r;
}

int qvRegexec(QvRegexp* prog, const char* text)
{
    if (prog == nullptr || text == nullptr) {
        qvRegerror("NULL parameter");
        return 0;
    }
    if (static_cast<unsigned char>(prog->program[0]) != MAGIC) {
        qvRegerror("corrupted program");
        return 0;
    }
    if (prog->regmust != nullptr) {
        const char* s = text;
        while ((s = std::strchr(s, prog->regmust[0])) != nullptr) {
            if (std::strncmp(s, prog->regmust, static_cast<size_t>(prog->regmlen)) == 0)
                break;
            ++s;
        }
        if (s == nullptr)
            return 0;
    }
    regbol = text;
    regsteps = 0;
    regaborted = false;
    if (prog->reganch)
        return regtry(prog, text) ? 1 : 0;
    const char* s = text;
    if (prog->regstart != '\0') {
        while ((s = std::strchr(s, prog->regstart)) != nullptr) {
            if (regtry(prog, s))
                return 1;
            if (regaborted)
                return 0;
            ++s;
        }
        return 0;
    }
    do {
        if (regtry(prog, s))
            return 1;
        if (regaborted)
            return 0;
    } while (*s++ != '\0');
    return 0;
}
