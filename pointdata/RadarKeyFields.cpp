#include "RadarKeyFields.h"

#include <cfloat>
#include <cstdint>
#include <cstring>

unsigned hashKey(const RadarKeyFields& fields)
{
    // Shifts and sums of unsigned 32-bit values wrap instead of overflowing;
    // the right shift of a negative param5 floors (arithmetic shift).
    int p5 = fields.param5();
    uint32_t shifted = p5 >= 0 ? static_cast<uint32_t>(p5 >> 3)
                               : ~(static_cast<uint32_t>(~p5) >> 3);
    uint32_t h = (static_cast<uint32_t>(fields.product()) << 4) + shifted +
                 (static_cast<uint32_t>(fields.radar()) << 12);
    // h as the signed 32-bit number it stands for.
    int64_t signedH = h >= 0x80000000u ? static_cast<int64_t>(h) - 0x100000000LL : h;
    long double s = 3.14159265358979323846264338327950288L * fields.param4() +
                    (static_cast<long double>(signedH) + fields.elevation());
    // A sum beyond the float range saturates (a NaN stays a NaN).
    if (s > FLT_MAX)
        s = FLT_MAX;
    else if (s < -FLT_MAX)
        s = -FLT_MAX;
    float f = static_cast<float>(s);
    uint32_t bits;
    memcpy(&bits, &f, sizeof bits);
    return bits;
}
