// Holds the values the project's decoder reported for one message against
// reference values (ecCodes' dump, or what a test wrote), subset by subset.
//
// The decoder lists, per subset and in data order, every element; the
// delayed replication factors go to its replication counts, not into the
// values.  It does not list associated fields, their
// 0 31 021 significance, operators that ecCodes prints as values, or 2 05
// texts, so those reference positions are passed over.  A position the
// reference numbers without printing it is compared by value only.
//
// A value agrees when the descriptor is the same and
// - a number lies within EcCodesDump::tolerance of the reference, widened by
//   the float the decoder stores (half a float ulp);
// - a missing value is -99999.0 in the decoder;
// - a character element carries -99999.9 and a text equal to the reference
//   (EcCodesDump::sameText); a missing text is an empty one;
// - a known repetition number equals the decoder's index.
// A descriptor that differs means the two sides have lost step: the rest of
// that subset is not compared.
#ifndef VALUECOMPARISON_H
#define VALUECOMPARISON_H

#include "BufrValues.h"
#include "EcCodesDump.h"
#include "SeqOf.h"

#include <string>
#include <vector>

class ValueComparison {
public:
    typedef std::vector<std::vector<EcCodesDump::Value> > Reference;

    ValueComparison(const SeqOf<BufrValues>& decoded, const Reference& reference,
                    std::size_t maxDetails = 8);

    bool agrees() const { return _mismatches == 0; }
    int compared() const { return _compared; }
    int mismatches() const { return _mismatches; }
    // Positions compared by value only (the reference printed no descriptor).
    int unchecked() const { return _unchecked; }
    // The first differences, one line each.
    const std::vector<std::string>& details() const { return _details; }

    // Whether the decoder lists a reference position at all.
    static bool listed(const EcCodesDump::Value& v);
    // One decoded value against one reference position; `why` says how
    // they differ.
    static bool sameValue(const BufrValues& decoded, const EcCodesDump::Value& v,
                          std::string& why);

private:
    void mismatch(const std::string& what);
    void compareSubset(int subset, const std::vector<const BufrValues*>& decoded,
                       const std::vector<EcCodesDump::Value>& reference);

    std::size_t _maxDetails;
    int _compared = 0;
    int _mismatches = 0;
    int _unchecked = 0;
    std::vector<std::string> _details;
};

#endif
