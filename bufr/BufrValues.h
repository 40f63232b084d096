// One decoded value of a BUFR message: the subset it belongs to (from 0), its
// element descriptor, the value (-99999.0 missing, 99999.0 not in table B,
// -99999.9 for a character element), the repetition number inside a delayed
// replication group (0 elsewhere) and, for a character element, its text.
//
// A value takes 16 octets, since a message may list hundreds of thousands:
// the value, the index, the subset and descriptor packed into one word (the
// subset in 16 bits, the descriptor as section 3 writes it: F 2 bits, X 6,
// Y 8), and the handle of its entry in BufrValueExtras, 0 for a value
// without text.  A text, or a subset or descriptor that does not fit the
// packed word, lives in that entry; every field reads back as it was set.
#ifndef BUFRVALUES_H
#define BUFRVALUES_H

#include "BufrValueExtras.h"
#include "TextString.h"

#include <cstdint>

class BufrValues {
public:
    BufrValues() : _value(0.0f), _index(0), _place(0), _extras(0) {}
    BufrValues(int subset, int descriptor, float value, int index, const TextString& charValue);
    BufrValues(const BufrValues& other)
        : _value(other._value), _index(other._index), _place(other._place),
          _extras(other._extras)
    {
        if (_extras)
            BufrValueExtras::retain(_extras);
    }
    BufrValues& operator=(const BufrValues& other)
    {
        if (other._extras)
            BufrValueExtras::retain(other._extras);
        if (_extras)
            BufrValueExtras::release(_extras);
        _value = other._value;
        _index = other._index;
        _place = other._place;
        _extras = other._extras;
        return *this;
    }
    ~BufrValues()
    {
        if (_extras)
            BufrValueExtras::release(_extras);
    }

    int getSubset() const { return wide() ? extras().subset : static_cast<int>(_place >> 16); }
    int getDescriptor() const
    {
        if (wide())
            return extras().descriptor;
        return static_cast<int>(_place >> 14 & 3) * 100000 +
               static_cast<int>(_place >> 8 & 63) * 1000 + static_cast<int>(_place & 255);
    }
    float getValue() const { return _value; }
    int getIndex() const { return _index; }
    TextString getCharValue() const
    {
        return _extras ? extras().text : TextString::emptyString();
    }

    // Inline: the data walker fills every value of a message through them.
    bool setSubset(int s)
    {
        if (!wide() && s >= 0 && s <= 0xFFFF)
            _place = (_place & 0xFFFF) | static_cast<uint32_t>(s) << 16;
        else
            setPlace(s, getDescriptor());
        return true;
    }
    bool setDescriptor(int d)
    {
        uint32_t fxy = 0;
        if (!wide() && packed(d, fxy))
            _place = (_place & 0xFFFF0000u) | fxy;
        else
            setPlace(getSubset(), d);
        return true;
    }
    bool setValue(float v)
    {
        _value = v;
        return true;
    }
    bool setIndex(int i)
    {
        _index = i;
        return true;
    }
    void setCharValue(const TextString& text);

    // The data walker's fill of one value: it becomes (subset, descriptor,
    // value, index) without text.
    void fill(int subset, int descriptor, float value, int index)
    {
        if (_extras)
            dropExtras();
        uint32_t fxy = 0;
        if (subset >= 0 && subset <= 0xFFFF && packed(descriptor, fxy))
            _place = static_cast<uint32_t>(subset) << 16 | fxy;
        else
            setPlace(subset, descriptor);
        _value = value;
        _index = index;
    }

    // The data walker's fill of one element's values: the `count` values
    // `stride` apart from `out` become `shared` with the subsets first,
    // first + 1, ... and the values values[0], values[step], ...
    static void fillColumn(BufrValues* out, long stride, const BufrValues& shared, int first,
                           int count, const float* values, long step)
    {
        if (shared._extras == 0 && first >= 0 && first + count <= 0x10000) {
            const int32_t index = shared._index;
            const uint32_t fxy = shared._place & 0xFFFF;
            for (int i = 0; i < count; ++i, out += stride) {
                if (out->_extras)
                    out->dropExtras();
                out->_value = values[i * step];
                out->_index = index;
                out->_place = fxy | static_cast<uint32_t>(first + i) << 16;
            }
            return;
        }
        for (int i = 0; i < count; ++i, out += stride) {
            *out = shared;
            out->setSubset(first + i);
            out->_value = values[i * step];
        }
    }

    // The data walker's fill of one subset's values: the `count` values
    // from `out` on become shared[0], shared[1], ... with the subset and the
    // values values[0], values[1], ...
    static void fillRow(BufrValues* out, const BufrValues* shared, long count, int subset,
                        const float* values)
    {
        const bool packedSubset = subset >= 0 && subset <= 0xFFFF;
        for (long k = 0; k < count; ++k, ++out) {
            const BufrValues& c = shared[k];
            if (c._extras == 0 && packedSubset) {
                if (out->_extras)
                    out->dropExtras();
                out->_index = c._index;
                out->_place = (c._place & 0xFFFF) | static_cast<uint32_t>(subset) << 16;
            } else {
                *out = c;
                out->setSubset(subset);
            }
            out->_value = values[k];
        }
    }

    // The descriptor as section 3 writes it (F 2 bits, X 6, Y 8); false
    // when it has no such form.
    static bool packed(int descriptor, uint32_t& fxy)
    {
        if (descriptor < 0 || descriptor > 363255)
            return false;
        const int x = descriptor / 1000 % 100;
        const int y = descriptor % 1000;
        if (x > 63 || y > 255)
            return false;
        fxy = static_cast<uint32_t>(descriptor / 100000) << 14 | static_cast<uint32_t>(x) << 8 |
              static_cast<uint32_t>(y);
        return true;
    }

private:
    const BufrValueExtras::Entry& extras() const { return BufrValueExtras::at(_extras); }
    bool wide() const { return _extras && extras().wide; }
    // Subset and descriptor, packed where they fit, else in the entry.
    void setPlace(int subset, int descriptor);
    // Lets go of the entry (out of line: the fill's loop stays small).
    void dropExtras();

    float _value;
    int32_t _index;
    uint32_t _place;     // subset << 16 | F X Y, unless the entry holds them
    uint32_t _extras;    // the entry's handle, 0 for none
};

#endif
