// Reads section 4 of one message by walking its DescriptorTree: a sequence
// is walked through, a fixed replication walks its group Y times, a delayed
// replication reads its factor first and walks its group that many times
// (0 31 011 and 0 31 012, the delayed repetition factors, read the group's
// data once and repeat its values), elements are read with the coding the
// operators (DataDescOps) give them as they are met.
//
// Standard data is walked once per subset; compressed data once for all
// subsets, each element a column (R0, the increment width NBINC, one
// increment per subset), and its values are then regrouped subset by subset.
// The result goes into the decoder's _decodedValues (subset numbers from 0;
// index = the repetition number inside the innermost delayed replication
// group, else 0) and _repCountList (every factor in the order read, for
// every subset); nothing is stored when the walk fails.
//
// The work is bounded by the data: a message whose descriptors would have
// the walker take more steps or make more values than its data section can
// account for fails with a PROBLEM line instead of running on.  The memory
// is bounded too: every value is counted at what it costs (with its text,
// its string and its entry among the value extras; a factor once for each
// copy of it) before it is made, and a message whose values would take more
// than maxBytes fails.  What a large message took is given back: the
// walker's own lists keep the room of a message that failed, or of a
// larger message before, only up to keptBytes each, and the decoder's
// values and factors do not keep the room of a much larger message before
// them.
#ifndef DESCRIPTORWALKER_H
#define DESCRIPTORWALKER_H

#include "BufrValueExtras.h"
#include "BufrValues.h"
#include "DataDescOps.h"
#include "DescriptorTree.h"
#include "SeqOf.h"

#include <cstdint>
#include <string>
#include <vector>

class BufrDecoder;

class DescriptorWalker {
public:
    // The most memory the values of one message may take, in octets.
    static const long maxBytes = 192L << 20;
    // The room a list of the walker keeps from message to message however
    // little the next message fills of it.
    static const long keptBytes = 1L << 20;

    explicit DescriptorWalker(BufrDecoder& decoder);

    // The decoder's read region holds section 4's data and its _tree the
    // message's descriptors.  False after a PROBLEM line.
    bool decodeStandardData();
    bool decodeCompressedData();
    // What the last walk that read every subset (none, of a message that
    // declares none) left of the data: the whole octets after the octet it
    // last read from, and whether they hold subsets' data (a subset count
    // short of the subsets given) rather than padding.  Octets all of one
    // value (zeros, blanks, all ones: an encoder's fill) are padding.  Other
    // octets hold subsets' data in a message that declares none; in another
    // one they hold one more subset when, in standard data, one more subset
    // reads whole from where the last one ended and gives values, at least
    // half as many as the subset of the message that gives the fewest (an
    // encoder's leftovers of all ones and a few other octets read as a
    // subset of missing values); in compressed data, when the section read
    // again with one subset more reads whole, ends elsewhere (with every
    // increment width 0 both readings are one) and leaves fill or nothing.
    // Anything else is padding.
    struct Leftover {
        long octets = 0;
        bool subsetsLeft = false;
    };
    const Leftover& leftover() const { return _leftover; }
    // The memory the values of the last walk took (counted against
    // maxBytes), then 0 until the next walk.
    long takeBytesTaken()
    {
        const long taken = _bytesTaken;
        _bytesTaken = 0;
        return taken;
    }

private:
    struct CachedCoding {
        unsigned generation;
        bool fits;
        DataDescOps::Coding coding;
    };
    // One value of standard data; its text, if any, is _texts[text].
    struct Item {
        int subset;
        int descriptor;
        float value;
        int index;
        int text;
    };
    // One element over all subsets of compressed data.
    struct Column {
        int descriptor;
        int index;
        int first;      // its subsets' values: _numbers[first + subset * valueStep]
        int valueStep;  // 0 when every subset has the same value (NBINC 0)
        int text;       // its subsets' texts: _texts[text + subset * textStep], or -1
        int textStep;   // 0 when every subset has the same text (NBINC 0)
    };

    // False (logged) when the values that the data of every subset is
    // sure to hold would take more than maxBytes.
    bool start(bool compressed);
    // Fills _leftover once every subset was read.  No line is written for
    // the walk that looks for one more subset, and the walk's own figures
    // stay those of the subsets given.
    void checkLeftover();
    // Standard data: one more subset reads whole from where the last one
    // ended and gives at least one value, and at least half as many as the
    // subset of the message that gives the fewest.
    bool readOneMoreSubset();
    // The values of _values[from, to) that are given: not missing, not of
    // an element the tables lack, not a count of class 31 (whose all ones is
    // a count), a text that is not empty.
    long givenValues(std::size_t from, std::size_t to) const;
    // Compressed data: read again with one subset more, the section reads
    // whole, ends elsewhere and leaves fill or nothing.
    bool readAgainWithOneMore();
    bool walk(int begin, int end);
    // One more step of the walk; false (logged) past the limit.
    bool step() { return ++_steps <= _stepLimit || tooMuch("steps"); }
    bool readElement(const DescriptorTree::Node& n);
    bool readStandard(const DescriptorTree::Element& e, const DataDescOps::Coding& c);
    // The element's column of compressed data: R0, NBINC and the increment
    // of every subset, read at once.
    bool getCompressedValue(const DescriptorTree::Element& e, const DataDescOps::Coding& c);
    // The increments of a numeric column (NBINC 1 to 56) that lies within
    // the data, in one pass; false (nothing read) when the column's values
    // need the checked path.
    bool readIncrements(const DescriptorTree::Element& e, const DataDescOps::Coding& c,
                        uint64_t r0, int nbinc);
    // The column of an element of compressed data at the current
    // repetition, its values to follow at the end of _numbers, no texts.
    Column newColumn(int descriptor) const;
    // The column's value is the same in every subset.
    void sameValue(Column& col, float value);
    // A delayed replication: its factor, then its group that many times.
    bool expandDelayedReplication(const DescriptorTree::Node& n);
    bool readFactor(const DescriptorTree::Element& e, int& factor);
    // The group of a delayed replication `factor` times, _repetition the
    // number of each repetition; a delayed repetition reads the group once
    // and repeats its values.
    bool insertReplications(const DescriptorTree::Node& n, int factor);
    bool repeatValues(std::size_t from, std::size_t to, int factor);
    // The columns of compressed data as the decoder's _decodedValues, subset
    // by subset: a block of subsets at a time, written column by column, or,
    // for a message of many values, gathered into a buffer and written row
    // by row.
    void regroupBySubset();
    void regroupByBlocks(BufrValues* out, long width);
    void regroupByRows(BufrValues* out, long width);
    // The values (8 MB of them) from which the rows are written in order:
    // below it the blocks of columns are as fast (small messages fit the
    // caches either way), above it the rows take 0.55 to 0.75 of the time
    // (10,000 to 30,000 subsets of real messages, tiled), and no corpus
    // message reaches it.
    static const long ROW_ORDER_VALUES = 500000L;
    // Applies an operator; false, after the PROBLEM line that fails the
    // data section, when it cannot.
    bool decodeSection2Desc(const DescriptorTree::Node& n);
    // Passes over one field of `width` bits (in compressed data its R0,
    // NBINC and increments).
    bool skipField(int width);
    // Not-in-table-B values for an element whose bits were passed over;
    // false past the limit of values.
    bool addUnknown(int descriptor);
    // The values made so far (in compressed data every column counts once
    // per subset); _valueLimit is what is left for them once the factors
    // listed so far took their room.  _bytesLeft is what is left of
    // maxBytes.
    long storedValues() const
    {
        return _compressed ? static_cast<long>(_columns.size()) * _subsets
                           : static_cast<long>(_values.size());
    }
    // One more column of compressed data fits the limits; false (logged)
    // when it does not.  Inline: every column asks.
    bool roomForColumn()
    {
        return (storedValues() + _subsets <= _valueLimit || tooMuch("values")) &&
               charge(static_cast<long>(sizeof(Column)) + _subsets * columnValueCost);
    }
    bool addValue(int descriptor, float value, int text)
    {
        if (static_cast<long>(_values.size()) >= _nextValueCheck && !roomForValues())
            return false;
        _values.push_back(Item{_subset, descriptor, value, _repetition, text});
        if (_debug)
            logValue(value);
        return true;
    }
    void logValue(float value);
    // The decoder's _decodedValues become `count` values, filled by the
    // caller through the pointer returned (in the last message's storage
    // when nothing else holds it).
    BufrValues* newValues(long count);
    // The decoder's _repCountList becomes `copies` copies of the factors
    // read (one per subset of compressed data).
    void storeFactors(int copies);
    // The element's coding under the operators in force; null after a
    // PROBLEM line when its changed reference value does not fit.
    const DataDescOps::Coding* codingOf(int element)
    {
        const CachedCoding& cached = _codings[static_cast<std::size_t>(element)];
        return cached.generation == _ops.generation() && cached.fits ? &cached.coding
                                                                     : recode(element);
    }
    const DataDescOps::Coding* recode(int element);
    // The PROBLEM line of a value whose coded number and reference do not
    // fit 64 bits; false.
    bool tooLarge(int descriptor, uint64_t coded, const DataDescOps::Coding& c);
    // `count` characters at the read position as the text of a character
    // element (BufrDecoder::characterValue).
    bool readText(int count, TextString& text);
    bool tooMuch(const char* what);
    bool readError();
    // No PROBLEM line is written while a walk looks for one more subset.
    bool quiet() const;
    // Takes `bytes` from what is left of maxBytes; false (logged) when they
    // are not there.
    bool charge(long bytes)
    {
        if (bytes <= _bytesLeft) {
            _bytesLeft -= bytes;
            return true;
        }
        return tooLarge();
    }
    bool tooLarge();
    // Room for the next valueBlock values of standard data, within both
    // limits (taken a block at a time, so that a value costs one
    // comparison); false (logged) when there is none.
    bool roomForValues();
    static const long valueBlock = 4096;
    // What a text of `octets` characters costs beyond its value: its handle
    // here, its string and its entry among the value extras.
    static long textCost(long octets)
    {
        return static_cast<long>(sizeof(TextString)) + BufrValueExtras::textCost(octets);
    }
    // The walk of the data is done (the message decoded or not): what its
    // lists hold goes, and the room of those that pass keptBytes unless the
    // message decoded filled half of it.
    void giveBack(bool decoded);

    // A value of standard data, an element of compressed data in each subset.
    static const long valueCost;
    static const long columnValueCost;

    BufrDecoder& _decoder;
    const DescriptorTree* _tree;    // the message's, or _noTree
    DescriptorTree _noTree;
    DataDescOps _ops;
    std::vector<CachedCoding> _codings;
    bool _compressed;
    int _subsets;
    int _subset;
    int _repetition;
    long _steps;
    long _stepLimit;
    long _valueLimit;
    long _nextValueCheck;    // the count of values that asks roomForValues again
    long _bytesLeft;
    long _bytesTaken;
    bool _debug;
    bool _verbose;
    int _logged;
    // Where the data section begins (compressed data is read again from
    // there with one subset more).
    const unsigned char* _dataStart;
    int _bitStart;
    Leftover _leftover;
    std::string _textBuffer;

    // Standard data: the values in order.
    std::vector<Item> _values;
    std::vector<int> _factors;
    // Compressed data.
    std::vector<Column> _columns;
    std::vector<float> _numbers;
    std::vector<int32_t> _increments;    // of one column
    std::vector<BufrValues> _columnValues;    // what each column's values share
    std::vector<float> _rowValues;    // a block of rows' values, row by row
    std::vector<long> _varying;       // the columns whose value differs by subset
    // The texts of character elements.
    std::vector<TextString> _texts;
};

#endif
