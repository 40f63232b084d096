#include "BufrValues.h"

BufrValues::BufrValues(int s, int d, float v, int i, const TextString& text)
    : _value(v), _index(i), _place(0), _extras(0)
{
    setPlace(s, d);
    setCharValue(text);
}

void BufrValues::setPlace(int subset, int descriptor)
{
    uint32_t fxy = 0;
    const bool fits = subset >= 0 && subset <= 0xFFFF && packed(descriptor, fxy);
    _place = fits ? static_cast<uint32_t>(subset) << 16 | fxy : 0;
    if (!_extras) {
        if (!fits)
            _extras = BufrValueExtras::add(TextString(), true, subset, descriptor);
        return;
    }
    BufrValueExtras::Entry& e = BufrValueExtras::own(_extras);
    e.wide = !fits;
    e.subset = subset;
    e.descriptor = descriptor;
    if (fits && e.text.length() == 0) {
        BufrValueExtras::release(_extras);
        _extras = 0;
    }
}

void BufrValues::setCharValue(const TextString& text)
{
    if (!_extras) {
        if (text.length() > 0)
            _extras = BufrValueExtras::add(text, false, 0, 0);
        return;
    }
    if (extras().text.rep() == text.rep())
        return;
    if (text.length() == 0 && !wide()) {
        BufrValueExtras::release(_extras);
        _extras = 0;
        return;
    }
    BufrValueExtras::own(_extras).text = text;
}

void BufrValues::dropExtras()
{
    const bool wasWide = wide();
    const int subset = getSubset();
    const int descriptor = getDescriptor();
    BufrValueExtras::release(_extras);
    _extras = 0;
    if (wasWide)
        setPlace(subset, descriptor);
}
