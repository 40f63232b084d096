// CartDomain2D<T>: a rectangle given by its origin and its extent, held by
// value.  A default domain is the null domain; a domain built from an origin
// and an extent is never null, and its extent is never negative: a negative
// one is logged and replaced by (0, 0).
#ifndef CARTDOMAIN2D_H
#define CARTDOMAIN2D_H

#include "CartCoord2D.h"
#include "LogStream.h"

#include <cstdint>
#include <ostream>

template <class T>
struct CartDomain2D {
    bool null;
    CartCoord2D<T> origin;
    CartCoord2D<T> extent;
    // Carried along by copies; nothing reads it.
    int32_t _spare;

    CartDomain2D() : null(true), _spare(0) {}
    CartDomain2D(const CartCoord2D<T>& o, const CartCoord2D<T>& e)
        : null(false), origin(o), extent(e), _spare(0)
    {
        // Strict comparisons: -0.0 and NaN are kept.
        if (e.x < 0 || e.y < 0) {
            QEV_LOG(LogStream::BUG, "CartDomain2D")
                << "negative extent in CartDomain constructor" << std::endl;
            extent = CartCoord2D<T>();
        }
    }
};

// "[o=(x,y),e=(x,y)]", or "[Null Domain]".
template <class T>
std::ostream& operator<<(std::ostream& out, const CartDomain2D<T>& d)
{
    if (d.null)
        return out << "[Null Domain]";
    return out << "[o=" << d.origin << ",e=" << d.extent << "]";
}

#endif
