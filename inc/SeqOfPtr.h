// SeqOfPtr<P>: a sequence of pointers (P is the pointer type: an object
// pointer or a function pointer).  It holds the pointers only: neither its
// destructor nor any operation deletes, closes or frees what they point to;
// whoever fills it disposes of the pointees.  Operations and messages are
// those of SeqOf; new elements are null.
#ifndef SEQOFPTR_H
#define SEQOFPTR_H

#include "SeqOf.h"

#include <type_traits>

template <class P>
class SeqOfPtr {
    static_assert(std::is_pointer<P>::value, "SeqOfPtr holds pointers");

public:
    SeqOfPtr() {}
    virtual ~SeqOfPtr() {}

    int length() const { return _seq.length(); }
    void setLength(int n) { _seq.setLength(n); }
    void append(P p) { _seq.append(p); }
    P operator[](int i) const { return _seq[i]; }
    P& operator[](int i) { return _seq[i]; }
    int find(P p, int start = 0) const { return _seq.find(p, start); }
    void replace(int a, int b, const SeqOfPtr& src) { _seq.replace(a, b, src._seq); }
    void remove(int from, int to) { _seq.remove(from, to); }

private:
    SeqOf<P> _seq;
};

#endif
