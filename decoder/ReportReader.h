// Reads the values of the reports of one decoded BUFR message: which values
// are a report's own, which are other quantities of the same element, which
// are quality information and which value each of those points at.
//
// The decoding engine gives a message as a flat list of values, one per
// element, with its subset; it lists no operator, no delayed replication
// factor and no replication group.  The reader lays the values out again
// from the message's expanded descriptors (one subset's, operators and
// factor descriptors included), its delayed replication groups and the
// factors read (BufrDecoder's _descriptors, _replDescList, _nestedRepList,
// _repCountList), and checks the layout value by value: each value must be
// the element the descriptors call for at its place, and every value must
// be placed.  Where the layout does not match (values made by hand, a
// descriptor list the reader cannot follow), each subset is one scope of
// its own, with no groups and no quality information.
//
// Scopes.  A subset is a scope; so is each repetition of a delayed
// replication group within a scope (repetitions that hold no value have
// none).  A value belongs directly to the innermost scope that holds it.  A
// fixed replication is written out in its scope.
//
// Plain values.  A class 08 qualifier that makes a different quantity of the
// elements after it stays in force, in the order of the subset's values and
// across its scopes, until the same qualifier comes again; a missing value
// cancels it.  Those qualifiers: 0 08 023 first-order statistics, 0 08 024
// difference statistics, 0 08 092 measurement uncertainty expression and
// 0 08 093 measurement uncertainty significance, with any value; 0 08 021
// time significance when it names a forecast, an analysis or a first guess
// (4 to 16, 27), not when it names an averaged or accumulated observation
// or the kind of a time.  A value under none of them, and not quality
// information, is plain.
//
// Quality information.  The values after a 2 22 000 marker, up to 2 35 000
// or the end of the subset: each block (from one 2 22 000 to the next) has a
// data present bit map, the 0 31 031 values right after the marker (kept
// for later blocks when 2 36 000 comes before them; a block after 2 37 000
// takes the kept one, 2 37 255 drops it), the generating centre and
// application (0 01 031, 0 01 032), then one value for each bit 0 of the bit
// map, in order.  The bit map covers the data before the first 2 22 000 of
// the subset (after the last 2 35 000), elements and delayed replication
// factors alike, its last bit the last of them; a bit that falls on a
// factor or before the data points at nothing.
#ifndef REPORTREADER_H
#define REPORTREADER_H

#include "BufrValues.h"
#include "SeqOf.h"

#include <cstdint>
#include <utility>
#include <vector>

class ReportReader {
public:
    // What the decoder read of the message besides its values.
    struct Layout {
        SeqOf<int> descriptors;             // one subset's, written out
        SeqOf<SeqOf<int> > groups;          // delayed groups outside any other
        SeqOf<SeqOf<int> > nested;          // within another, in order met
        SeqOf<int> factors;                 // every factor read, in order
        int subsets = 0;
        bool compressed = false;            // factors listed once per subset
    };

    // One delayed replication met in a scope: its group's descriptors, its
    // factor, and the scopes of its repetitions that hold values.
    struct Replication {
        int scope;
        int position;          // the value its factor stands before
        int factor;
        const SeqOf<int>* group;
        std::vector<int> repetitions;
    };

    static constexpr int NONE = -1;

    ReportReader(const SeqOf<BufrValues>& values, const Layout& layout);
    ReportReader(const ReportReader&) = delete;
    ReportReader& operator=(const ReportReader&) = delete;

    // Whether the values follow the descriptors (groups and quality known).
    bool laidOut() const { return _laidOut; }

    // ---- Scopes ----
    int scopeCount() const { return static_cast<int>(_scopes.size()); }
    // The scope of a subset; NONE when it has no value.
    int subsetScope(int subset) const;
    int scopeOf(int value) const { return _scopeOf[static_cast<size_t>(value)]; }
    int parent(int scope) const { return _scopes[static_cast<size_t>(scope)].parent; }
    // The values of a scope, its nested scopes' included: [begin, end).
    int begin(int scope) const { return _scopes[static_cast<size_t>(scope)].begin; }
    int end(int scope) const { return _scopes[static_cast<size_t>(scope)].end; }
    // The delayed replications directly in a scope, in order.
    std::vector<const Replication*> replicationsIn(int scope) const;
    // The repetition scopes directly within a scope, in order.
    std::vector<int> children(int scope) const;

    // ---- Values ----
    bool plain(int i) const { return _flags[static_cast<size_t>(i)] == PLAIN; }
    bool quality(int i) const { return _flags[static_cast<size_t>(i)] == QUALITY; }
    // The value quality value i points at; NONE for none.
    int target(int i) const;

    // The first plain value of the element directly in the scope, among the
    // values [from, to); NONE when there is none.  count: how many there are.
    int first(int scope, int descriptor, int from = 0, int to = INT32_MAX) const;
    int count(int scope, int descriptor, int from = 0, int to = INT32_MAX) const;
    // The first plain value of the element in the scope, else in the nearest
    // enclosing scope that has one (within [from, to)).
    int nearest(int scope, int descriptor, int from = 0, int to = INT32_MAX) const;
    // Every plain value of the element directly in the scope, in order.
    std::vector<int> all(int scope, int descriptor, int from = 0, int to = INT32_MAX) const;
    // Every plain value directly in the scope, whatever its element, in order.
    std::vector<int> plainValues(int scope, int from = 0, int to = INT32_MAX) const;
    // A report's own values: the first plain value of each element directly
    // in the scope, then of each element it does not give, the first plain
    // value directly in its enclosing scopes, the nearest first (all within
    // [from, to)); in the order of the values.
    std::vector<int> ownValues(int scope, int from = 0, int to = INT32_MAX) const;
    // The quality values of an element that point at value i, in order.
    std::vector<int> qualityOf(int i, int descriptor) const;

    // Whether an element is a qualifier that makes a different quantity of
    // the elements after it while it holds that value.
    static bool makesOtherQuantity(int descriptor, float value);
    static bool isQualifier(int descriptor);

private:
    enum Flag : uint8_t { PLAIN, QUALIFIED, QUALITY };
    struct Scope {
        int parent;
        int begin;
        int end;
        // The replications met while it was laid out: those directly in it
        // lie in [firstReplication, endReplication).
        int firstReplication;
        int endReplication;
    };
    // The bit map state of a subset's quality information.
    struct QualityState {
        std::vector<int> data;        // value of each data position, NONE for a factor
        bool frozen = false;          // after the first 2 22 000
        bool inQuality = false;
        bool readingBitMap = false;
        bool keep = false;            // 2 36 000 before this block's bit map
        std::vector<char> bits;       // this block's (1: no quality value)
        std::vector<char> kept;
        size_t nextBit = 0;
    };
    struct Walk;

    bool layOut(const Layout& layout);
    // Lays out the values of a descriptor list (the top list, or a group's)
    // in a scope; false where they do not follow it.
    bool replay(Walk& w, const SeqOf<int>& list, bool top, const std::vector<int>& nestedAt,
                int scope);
    void operatorMet(Walk& w, int descriptor);
    void valueMet(Walk& w, int i);
    void factorMet(Walk& w);
    void oneScopePerSubset();
    void markQualifiers();
    // The plain values of the element directly in the scope, within
    // [from, to); the first only when firstOnly.
    std::vector<int> matching(int scope, int descriptor, int from, int to, bool firstOnly) const;
    int newScope(int parent, int begin);
    void closeScope(int scope, int end);
    // The indexes of the values directly in each scope and of the quality
    // values of each value, made once the values are laid out, so that a
    // look-up costs what the scope itself holds, not its nested scopes.
    void index();
    // The values directly in the scope within [from, to), ascending.
    std::pair<const int*, const int*> direct(int scope, int from, int to) const;

    const SeqOf<BufrValues>& _values;
    bool _laidOut = false;
    std::vector<Scope> _scopes;
    std::vector<int> _subsetScopes;
    std::vector<int> _scopeOf;
    std::vector<uint8_t> _flags;
    std::vector<int> _targets;            // per value, quality values only
    std::vector<int> _directStart;        // per scope, where its values begin in _direct
    std::vector<int> _direct;             // the values, by scope, ascending in each
    std::vector<std::pair<int, int> > _qualityIndex;    // (target, quality value), by target
    std::vector<Replication> _replications;
    // The layout's groups, kept while the reader lives (shared values).
    Layout _layout;
};

#endif
