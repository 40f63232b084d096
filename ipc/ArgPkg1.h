// The package of a message with one argument, held by value and written
// in declaration order with the XDR routine of each argument's type.
#ifndef ARGPKG1_H
#define ARGPKG1_H

#include "ArgPkgABC.h"
#include "serializeQuantize.h"

template <class T1>
class ArgPkg1 : public ArgPkgABC {
public:
    // Default arguments, to be filled by quantize.
    ArgPkg1() : _arg1() {}
    explicit ArgPkg1(const T1& a1) : _arg1(a1) {}

    char* serialize(char* position) const override
    {
        return xdrSerializeAll(position, _arg1);
    }
    unsigned length() const override { return static_cast<unsigned>(xdrLengthAll(_arg1)); }
    // Reads the arguments back in the same order within [position, end);
    // null when they do not fit (see serializeQuantize.h).
    char* quantize(char* position, const char* end)
    {
        return xdrQuantizeAll(position, end, _arg1);
    }

    const T1& arg1() const { return _arg1; }

private:
    T1 _arg1;
};

#endif
