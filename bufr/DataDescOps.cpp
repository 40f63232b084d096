#include "DataDescOps.h"

#include "BufrDecoder.h"
#include "LogStream.h"
#include "LogText.h"
#include "TableBEntry.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

const std::size_t maxAssociatedFields = 255;

// 10^scale as std::pow gives it, from a table for the scales met in practice.
double powerOfTen(int scale)
{
    const int range = 64;
    static const std::vector<double> table = [] {
        std::vector<double> powers(2 * range + 1);
        for (int s = -range; s <= range; ++s)
            powers[static_cast<std::size_t>(s + range)] = std::pow(10.0, s);
        return powers;
    }();
    return scale >= -range && scale <= range ? table[static_cast<std::size_t>(scale + range)]
                                             : std::pow(10.0, scale);
}

} // namespace

DataDescOps::DataDescOps(BufrDecoder& decoder)
    : _decoder(decoder), _logAsked(false), _verbose(false), _debug(false), _generation(0)
{
    reset();
}

void DataDescOps::askLogging() const
{
    _verbose = BufrDecoder::logOn(LogStream::VERBOSE, "DataDescOps");
    _debug = BufrDecoder::logOn(LogStream::DEBUG, "DataDescOps");
    _logAsked = true;
}

void DataDescOps::reset()
{
    _logAsked = false;
    _widthChange = 0;
    _scaleChange = 0;
    _increase207 = 0;
    _charWidth208 = 0;
    _referenceBits = 0;
    _newReferences.clear();
    _assocFieldWidths.clear();
    _assocFieldWidth = 0;
    _signifiedWidth = -1;
    changed();
}

// The steps of apply, inline in it: an operator met in every repetition of
// a group costs no call beyond apply's own.
inline void DataDescOps::changeDataWidth(int y)
{
    _widthChange = y - 128;
    if (verbose())
        QEV_LOG(LogStream::VERBOSE, "DataDescOps")
            << "Changing data width by " << y - 128 << " bits" << std::endl;
    changed();
}

inline void DataDescOps::resetDataWidth()
{
    _widthChange = 0;
    if (verbose())
        QEV_LOG(LogStream::VERBOSE, "DataDescOps") << "Resetting data width" << std::endl;
    changed();
}

inline void DataDescOps::changeDataScale(int y)
{
    _scaleChange = y - 128;
    if (verbose())
        QEV_LOG(LogStream::VERBOSE, "DataDescOps") << "Changing data scale by " << y - 128
                                                   << std::endl;
    changed();
}

inline void DataDescOps::resetDataScale()
{
    _scaleChange = 0;
    if (verbose())
        QEV_LOG(LogStream::VERBOSE, "DataDescOps") << "Resetting data scale" << std::endl;
    changed();
}

inline void DataDescOps::resetDataReference()
{
    _newReferences.clear();
    if (verbose())
        QEV_LOG(LogStream::VERBOSE, "DataDescOps") << "Resetting data reference" << std::endl;
}

inline bool DataDescOps::addAssociatedField(int y)
{
    // Nested fields add up; they are read before every element, so together
    // they cannot be wider than the data left, and each is remembered until
    // its 2 04 000: no message nests more than a few.
    if (_assocFieldWidths.size() >= maxAssociatedFields) {
        if (!_decoder.quietReads())
            QEV_LOG(LogStream::PROBLEM, "DataDescOps")
                << "Associated fields nested more than " << maxAssociatedFields << " deep"
                << std::endl;
        return false;
    }
    if (_assocFieldWidth + static_cast<long>(y) > _decoder.bitsLeft()) {
        if (!_decoder.quietReads())
            QEV_LOG(LogStream::PROBLEM, "DataDescOps")
                << "Associated fields of " << _assocFieldWidth + static_cast<long>(y)
                << " bits in all are wider than the " << _decoder.bitsLeft()
                << " bits left in the data section" << std::endl;
        return false;
    }
    if (verbose())
        QEV_LOG(LogStream::VERBOSE, "DataDescOps")
            << "Adding data association of descriptor " << 0 << std::endl;
    _assocFieldWidths.push_back(y);
    _assocFieldWidth += y;
    return true;
}

inline void DataDescOps::signifyDataWidth(int y)
{
    _signifiedWidth = y;
}

bool DataDescOps::apply(int x, int y)
{
    switch (x) {
    case 1:
        if (y == 0)
            resetDataWidth();
        else
            changeDataWidth(y);
        return true;
    case 2:
        if (y == 0)
            resetDataScale();
        else
            changeDataScale(y);
        return true;
    case 3:
        // 2 03 YYY starts the definition of new references, 2 03 255 ends
        // it; 2 03 000 also drops the references defined.
        if (y == 0)
            resetDataReference();
        _referenceBits = (y == 0 || y == 255) ? 0 : y;
        changed();
        return true;
    case 4:
        if (y > 0)
            return addAssociatedField(y);
        if (!_assocFieldWidths.empty()) {
            _assocFieldWidth -= _assocFieldWidths.back();
            _assocFieldWidths.pop_back();
        }
        return true;
    case 5:
        return getCharacterInfo(200000 + x * 1000 + y, y);
    case 6:
        signifyDataWidth(y);
        return true;
    case 7:
        _increase207 = y;
        changed();
        return true;
    case 8:
        _charWidth208 = 8 * y;
        changed();
        return true;
    case 22:
    case 35:
    case 36:
    case 37:
        if ((x != 37 && y == 0) || (x == 37 && (y == 0 || y == 255))) {
            if (debug())
                QEV_LOG(LogStream::DEBUG, "DataDescOps") << "Got a descriptor code x = " << x
                                                         << std::endl;
            return true;
        }
        break;
    default:
        break;
    }
    char name[16];
    std::snprintf(name, sizeof name, "2%02d%03d", x, y);
    if (!_decoder.quietReads())
        QEV_LOG(LogStream::PROBLEM, "DataDescOps")
            << "Data description operator " << name << " is not supported" << std::endl;
    return false;
}

// The tables hold widths and scales the changes cannot carry out of an int
// (TableBEntry::codingFault): 2 01 and 2 02 add -127 to 127, 2 07 up to 850
// bits and 255 to the scale.
static_assert(TableBEntry::maxWidth + 127 + (10 * 255 + 2) / 3 < INT32_MAX / 2 &&
                  TableBEntry::maxScale + 127 + 255 < INT32_MAX / 2,
              "a changed width or scale fits an int");

bool DataDescOps::coding(const DescriptorTree::Element& e, Coding& c) const
{
    bool fits = true;
    c.scale = e.scale;
    c.reference = e.reference;
    c.width = e.width;
    if (e.character) {
        if (_charWidth208 > 0)
            c.width = _charWidth208;
    } else if (!e.codeOrFlag && !e.class31) {
        if (!_newReferences.empty()) {
            std::unordered_map<int, int64_t>::const_iterator r =
                _newReferences.find(e.descriptor);
            if (r != _newReferences.end())
                c.reference = r->second;
        }
        c.width += _widthChange + (10 * _increase207 + 2) / 3;
        c.scale += _scaleChange + _increase207;
        for (int i = 0; fits && i < _increase207; ++i)
            fits = !__builtin_mul_overflow(c.reference, 10, &c.reference);
    }
    c.divisor = powerOfTen(c.scale);
    if ((c.width == e.width && c.scale == e.scale) || !verbose())
        return fits;
    if (c.width != e.width)
        QEV_LOG(LogStream::VERBOSE, "DataDescOps")
            << "Changing data width in table B for descriptor " << e.descriptor << " from "
            << e.width << " to " << c.width << " bits" << std::endl;
    if (c.scale != e.scale)
        QEV_LOG(LogStream::VERBOSE, "DataDescOps")
            << "Changing data scale in table B for descriptor " << e.descriptor << " from "
            << e.scale << " to " << c.scale << std::endl;
    return fits;
}

bool DataDescOps::changeDataReference(const DescriptorTree::Element& e)
{
    int value = _decoder.getRefValue(_referenceBits);
    if (_decoder.readFailed()) {
        if (!_decoder.quietReads())
            QEV_LOG(LogStream::PROBLEM, "DataDescOps")
                << "No new reference value for descriptor " << e.descriptor << std::endl;
        return false;
    }
    if (verbose()) {
        QEV_LOG(LogStream::VERBOSE, "DataDescOps")
            << "Changing data reference in table B for descriptor " << e.descriptor << " from "
            << e.reference << std::endl;
        QEV_LOG(LogStream::VERBOSE, "DataDescOps") << "Reference value changed to " << value
                                                   << std::endl;
    }
    _newReferences[e.descriptor] = value;
    changed();
    return true;
}

bool DataDescOps::getCharacterInfo(int descriptor, int count)
{
    if (verbose())
        QEV_LOG(LogStream::VERBOSE, "DataDescOps")
            << "Getting the character information associated with descriptor " << descriptor
            << std::endl;
    if (debug()) {
        TextString text;
        _decoder.getCharacterString(count, text);
        QEV_LOG(LogStream::DEBUG, "DataDescOps") << "textual info for descriptor " << descriptor
                                                 << ":" << std::endl;
        QEV_LOG(LogStream::DEBUG, "DataDescOps") << LogText(text) << std::endl;
    }
    if (!_decoder.advanceOctets(count))
        return false;
    if (!_decoder._compressed)
        return true;
    // Compressed: R0 (just passed), the increment width in octets, and that
    // many octets for every subset.
    uint64_t nbinc = 0;
    if (!_decoder.takeBits(BufrDecoder::NBINC, nbinc))
        return false;
    return nbinc == 0 || _decoder.advanceBits(8 * static_cast<int>(nbinc) * _decoder._subsets);
}
