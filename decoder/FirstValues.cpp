#include "FirstValues.h"

#include "BufrDecoder.h"
#include "ElementForms.h"

FirstValues::Offer FirstValues::offer(const TextString& variable, double value, int descriptor,
                                      Given& held)
{
    const float stored = static_cast<float>(value);
    const bool given = ElementForms::given(stored);
    for (const Given& g : _given) {
        if (!(g.variable == variable))
            continue;
        if (!given || g.value == stored)
            return KEEP;
        held = g;
        return CONFLICT;
    }
    if (given)
        _given.push_back({variable, stored, descriptor});
    return WRITE;
}

bool FirstValues::holds(const TextString& variable) const
{
    for (const Given& g : _given)
        if (g.variable == variable)
            return true;
    return false;
}
