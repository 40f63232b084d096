// The package of a message with two arguments, held by value and written
// in declaration order with the XDR routine of each argument's type.
#ifndef ARGPKG2_H
#define ARGPKG2_H

#include "ArgPkgABC.h"
#include "serializeQuantize.h"

template <class T1, class T2>
class ArgPkg2 : public ArgPkgABC {
public:
    // Default arguments, to be filled by quantize.
    ArgPkg2() : _arg1(), _arg2() {}
    ArgPkg2(const T1& a1, const T2& a2) : _arg1(a1), _arg2(a2) {}

    char* serialize(char* position) const override
    {
        return xdrSerializeAll(position, _arg1, _arg2);
    }
    unsigned length() const override { return static_cast<unsigned>(xdrLengthAll(_arg1, _arg2)); }
    // Reads the arguments back in the same order within [position, end);
    // null when they do not fit (see serializeQuantize.h).
    char* quantize(char* position, const char* end)
    {
        return xdrQuantizeAll(position, end, _arg1, _arg2);
    }

    const T1& arg1() const { return _arg1; }
    const T2& arg2() const { return _arg2; }

private:
    T1 _arg1;
    T2 _arg2;
};

#endif
