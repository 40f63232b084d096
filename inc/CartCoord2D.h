// CartCoord2D<T>: a pair of Cartesian values, held by value (the
// configuration stores it for T = float and T = int).  A default coordinate
// is (0, 0).
#ifndef CARTCOORD2D_H
#define CARTCOORD2D_H

#include <ostream>

template <class T>
struct CartCoord2D {
    T x;
    T y;

    CartCoord2D() : x(0), y(0) {}
    CartCoord2D(T xValue, T yValue) : x(xValue), y(yValue) {}

    bool operator==(const CartCoord2D& other) const { return x == other.x && y == other.y; }
    bool operator!=(const CartCoord2D& other) const { return !(*this == other); }
};

// "(x,y)", no blank, numbers in the stream's current format.
template <class T>
std::ostream& operator<<(std::ostream& out, const CartCoord2D<T>& c)
{
    return out << "(" << c.x << "," << c.y << ")";
}

#endif
