// The arguments of one parameterised message, which write themselves into
// the message buffer in XDR form.  A message owns its package and deletes it
// through this base.
//
// There is no virtual decoder: a receiver reads the arguments back in the
// same order, with the package's quantize or with xdrQuantize into locals.
#ifndef ARGPKGABC_H
#define ARGPKGABC_H

class ArgPkgABC {
public:
    // Encodes the arguments at the position; returns the position behind
    // them.  Writes exactly length() bytes.
    virtual char* serialize(char* position) const = 0;
    // The encoded size in bytes.
    virtual unsigned length() const = 0;
    virtual ~ArgPkgABC() {}
};

#endif
