// FirstValues: the first value a record's variables of one value per record
// were given, so that no later value of a bulletin goes over it.  A missing
// value never goes over a value given, and the same value again changes
// nothing; a different one is a conflict, which the caller names (the record
// keeps the first).  A store clears it for each record it writes.
#ifndef FIRSTVALUES_H
#define FIRSTVALUES_H

#include "TextString.h"

#include <vector>

class FirstValues {
public:
    // A value given a variable: the value as the variable holds it, and the
    // element it came in.
    struct Given {
        TextString variable;
        float value;
        int descriptor;
    };
    enum Offer {
        WRITE,       // the first value of the variable: write it
        KEEP,        // missing, or the value held already: write nothing
        CONFLICT     // a value other than the one held: write nothing, name it
    };

    void clear() { _given.clear(); }
    // What to do with value, of element descriptor, for the variable; for a
    // CONFLICT, held is the value given first.
    Offer offer(const TextString& variable, double value, int descriptor, Given& held);
    // Whether the variable was given a value.
    bool holds(const TextString& variable) const;

private:
    std::vector<Given> _given;
};

#endif
