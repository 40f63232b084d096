// The package of a message without arguments: writes nothing, length 0.
#ifndef ARGPKG0_H
#define ARGPKG0_H

#include "ArgPkgABC.h"

class ArgPkg0 : public ArgPkgABC {
public:
    char* serialize(char* position) const override { return position; }
    unsigned length() const override { return 0; }
    char* quantize(char* position, const char*) { return position; }
};

#endif
