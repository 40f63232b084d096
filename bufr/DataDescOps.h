// The data description operators (2 XX YYY) of one message: the changes in
// force and the reads some operators make.
//
// A change is in force from its operator to its cancelling operator and
// applies to each element as that element is read, elements of replicated
// groups included:
//   2 01 YYY  width + (YYY - 128) bits        2 01 000 cancels
//   2 02 YYY  scale + (YYY - 128)             2 02 000 cancels
//   2 07 YYY  scale + YYY, reference * 10^YYY, width + (10 * YYY + 2) / 3
//                                             2 07 000 cancels
//   (these three apply to numeric elements only: not to CCITT IA5, code or
//   flag tables, nor to class 31)
//   2 08 YYY  CCITT IA5 elements are YYY octets wide; 2 08 000 cancels
//   2 03 YYY  the elements that follow, up to 2 03 255, carry no value but a
//             new YYY-bit reference value (sign bit first) in the data; the
//             new references stay until 2 03 000
//   2 04 YYY  a YYY-bit associated field before every element but those of
//             class 31; nested ones add up (to no more than the bits left in
//             the data, 255 deep at most); 2 04 000 cancels the last one
//   2 05 YYY  YYY characters of text in the data, logged and passed over
//   2 06 YYY  the next element is YYY bits wide (a local element the tables
//             lack is passed over)
// 2 22 000, 2 35 000, 2 36 000, 2 37 000 and 2 37 255 carry no data; the
// elements after them decode as ordinary elements.  Every other operator
// changes the layout in ways this decoder does not follow, so the message
// fails with a line that names it.
//
// The changes live here, never in the shared table B working copy: a message
// that ends inside a change scope leaves nothing behind, and reset() at the
// start of each message gives every message the plain tables.  The data
// walker caches each element's coding and asks for it again when
// generation() moves.
#ifndef DATADESCOPS_H
#define DATADESCOPS_H

#include "DescriptorTree.h"
#include "TextString.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

class BufrDecoder;

class DataDescOps {
public:
    // How an element is read now.
    struct Coding {
        int scale;
        int64_t reference;
        int width;
        double divisor;    // 10^scale
    };

    explicit DataDescOps(BufrDecoder& decoder);

    // Undoes every change (the start of a message).
    void reset();

    // Applies the operator 2 X Y through the steps below; false after a
    // PROBLEM line.  2 05 reads its text here.
    bool apply(int x, int y);

    // The coding of an element under the changes in force; false when its
    // reference value, scaled by 2 07, does not fit 64 bits.
    bool coding(const DescriptorTree::Element& e, Coding& c) const;
    // Moves whenever a change starts or ends.
    unsigned generation() const { return _generation; }

    // 2 03 YYY: the YYY of the definition in progress, else 0.
    int definingReferences() const { return _referenceBits; }
    // Reads one new reference value for the element; false when the data
    // ends.
    bool changeDataReference(const DescriptorTree::Element& e);

    // 2 04: the width of the associated field(s) in force, 0 when none.
    int assocFieldWidth() const { return _assocFieldWidth; }

    // 2 06: the width given for the next element, or -1; taking it ends it.
    int takeSignifiedWidth()
    {
        int w = _signifiedWidth;
        _signifiedWidth = -1;
        return w;
    }

    // 2 05 YYY: YYY characters at the read position, logged; the position
    // moves past them (in compressed data past their R0, NBINC and
    // increments).
    bool getCharacterInfo(int descriptor, int count);

private:
    // The steps of apply, one per operator: 2 01 YYY and 2 01 000, 2 02 YYY
    // and 2 02 000, 2 03 000 (the references defined are dropped), 2 04 YYY
    // (false when the fields in force would be wider than the data left, or
    // nested more than 255 deep), 2 06 YYY.
    void changeDataWidth(int y);
    void resetDataWidth();
    void changeDataScale(int y);
    void resetDataScale();
    void resetDataReference();
    bool addAssociatedField(int y);
    void signifyDataWidth(int y);

    void changed() { ++_generation; }
    // Whether the VERBOSE and DEBUG lines of the operators are wanted: asked
    // once per message, and only in a message that has operators, so that an
    // operator in every repetition of a group costs no log call and a
    // message without any asks nothing.
    bool verbose() const
    {
        if (!_logAsked)
            askLogging();
        return _verbose;
    }
    bool debug() const
    {
        if (!_logAsked)
            askLogging();
        return _debug;
    }
    void askLogging() const;

    BufrDecoder& _decoder;
    mutable bool _logAsked;
    mutable bool _verbose;
    mutable bool _debug;
    unsigned _generation;
    int _widthChange;
    int _scaleChange;
    int _increase207;
    int _charWidth208;       // bits, 0 when not in force
    int _referenceBits;
    std::unordered_map<int, int64_t> _newReferences;
    std::vector<int> _assocFieldWidths;    // of the nested fields in force
    int _assocFieldWidth;
    int _signifiedWidth;
};

#endif
