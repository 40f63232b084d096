// The package of a message with three arguments, held by value and written
// in declaration order with the XDR routine of each argument's type.
#ifndef ARGPKG3_H
#define ARGPKG3_H

#include "ArgPkgABC.h"
#include "serializeQuantize.h"

template <class T1, class T2, class T3>
class ArgPkg3 : public ArgPkgABC {
public:
    // Default arguments, to be filled by quantize.
    ArgPkg3() : _arg1(), _arg2(), _arg3() {}
    ArgPkg3(const T1& a1, const T2& a2, const T3& a3) : _arg1(a1), _arg2(a2), _arg3(a3) {}

    char* serialize(char* position) const override
    {
        return xdrSerializeAll(position, _arg1, _arg2, _arg3);
    }
    unsigned length() const override { return static_cast<unsigned>(xdrLengthAll(_arg1, _arg2, _arg3)); }
    // Reads the arguments back in the same order within [position, end);
    // null when they do not fit (see serializeQuantize.h).
    char* quantize(char* position, const char* end)
    {
        return xdrQuantizeAll(position, end, _arg1, _arg2, _arg3);
    }

    const T1& arg1() const { return _arg1; }
    const T2& arg2() const { return _arg2; }
    const T3& arg3() const { return _arg3; }

private:
    T1 _arg1;
    T2 _arg2;
    T3 _arg3;
};

#endif
