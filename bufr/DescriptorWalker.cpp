#include "DescriptorWalker.h"

#include "BufrDecoder.h"
#include "BufrValueExtras.h"
#include "BufrValues.h"
#include "LogStream.h"

#include <algorithm>

namespace {

// The value of a coded number: (coded + reference) / 10^scale; false when
// coded + reference does not fit a signed 64-bit number.
bool scaled(uint64_t coded, const DataDescOps::Coding& c, float& value)
{
    int64_t sum = 0;
    if (coded > static_cast<uint64_t>(INT64_MAX) ||
        __builtin_add_overflow(static_cast<int64_t>(coded), c.reference, &sum))
        return false;
    value = static_cast<float>(static_cast<double>(sum) / c.divisor);
    return true;
}

} // namespace

const long DescriptorWalker::ROW_ORDER_VALUES;
const long DescriptorWalker::maxBytes;
const long DescriptorWalker::keptBytes;
const long DescriptorWalker::valueBlock;
const long DescriptorWalker::valueCost = sizeof(Item) + sizeof(BufrValues);
const long DescriptorWalker::columnValueCost = sizeof(BufrValues);

DescriptorWalker::DescriptorWalker(BufrDecoder& decoder)
    : _decoder(decoder),
      _tree(nullptr),
      _ops(decoder),
      _compressed(false),
      _subsets(0),
      _subset(0),
      _repetition(0),
      _steps(0),
      _stepLimit(0),
      _valueLimit(0),
      _nextValueCheck(0),
      _bytesLeft(0),
      _bytesTaken(0),
      _debug(false),
      _verbose(false),
      _logged(0),
      _dataStart(nullptr),
      _bitStart(0)
{
}

bool DescriptorWalker::start(bool compressed)
{
    // No descriptors read (the decoder's readers used alone): nothing to walk.
    _tree = _decoder._tree ? _decoder._tree : &_noTree;
    _compressed = compressed;
    _subsets = _decoder._subsets > 0 ? _decoder._subsets : 0;
    _ops.reset();
    CachedCoding none;
    none.generation = _ops.generation() - 1;
    none.fits = false;
    _codings.assign(static_cast<std::size_t>(_tree->elementCount()), none);
    _steps = 0;
    // Every element takes at least one bit of standard data and the six bits
    // of its increment width in compressed data; the walk may take a number
    // of steps that its data cannot account for only in a few pathological
    // messages, so the limits leave a wide margin.
    const long bits = _decoder.bitsLeft();
    _stepLimit = 1000000L + 16 * bits;
    _valueLimit = compressed ? (bits / 6 + 1) * std::max(_subsets, 1) : bits + 100000L;
    _nextValueCheck = 0;
    _bytesLeft = maxBytes;
    _debug = !quiet() && BufrDecoder::logOn(LogStream::DEBUG, "DescriptorWalker");
    _verbose = !quiet() && BufrDecoder::logOn(LogStream::VERBOSE, "DescriptorWalker");
    _logged = 0;
    _subset = 0;
    _repetition = 0;
    _values.clear();
    _factors.clear();
    _columns.clear();
    _numbers.clear();
    _texts.clear();
    if (_verbose) {
        QEV_LOG(LogStream::VERBOSE, "DescriptorWalker")
            << "Data values decoded from data section....." << std::endl;
        QEV_LOG(LogStream::VERBOSE, "DescriptorWalker") << "_subsets= " << _subsets << std::endl;
    }
    // Every element of a width outside the delayed replication groups is a
    // value of every subset, every factor a number: what they cost at the
    // least is known before anything is read.
    const DescriptorTree::WrittenOut& w = _tree->writtenOut();
    long values = 0;
    long factors = 0;
    long perSubset = 0;
    long least = 0;
    if (__builtin_mul_overflow(w.takingData - w.factors,
                               compressed ? columnValueCost : valueCost, &values) ||
        __builtin_mul_overflow(w.factors, static_cast<long>(2 * sizeof(int)), &factors) ||
        __builtin_add_overflow(values, factors, &perSubset) ||
        __builtin_mul_overflow(perSubset, static_cast<long>(_subsets), &least) ||
        least > _bytesLeft)
        return tooLarge();
    return true;
}

namespace {

// `out` becomes `count` elements for the caller to write, every one of them,
// through the pointer returned (null for none): in the storage already there
// (the last message's) when it is large enough and nothing else holds it, so
// that a decoder's messages cost no allocation and no construction of
// elements once their sizes were met.  A copy that someone kept shares the
// storage, which then stays as it is.
template <class T>
T* writableElements(SeqOf<T>& out, long count)
{
    // The room of a much larger message before is not kept.
    const long room = static_cast<long>(out.capacity());
    const bool oversized =
        room > 2 * count && room * static_cast<long>(sizeof(T)) > DescriptorWalker::keptBytes;
    if (count <= 0 || out.refCount() != 1 || room < count || oversized)
        out = SeqOf<T>();
    if (count <= 0)
        return nullptr;
    out.setLength(static_cast<int>(count));
    // Unshared now: written in place without marking the storage
    // unshareable, so that copies of the result share it, and the next
    // message finds it held.
    const SeqOf<T>& elements = out;
    return const_cast<T*>(elements.elements());
}

} // namespace

BufrValues* DescriptorWalker::newValues(long count)
{
    return writableElements(_decoder._decodedValues, count);
}

void DescriptorWalker::storeFactors(int copies)
{
    const std::size_t n = _factors.size();
    int* out = writableElements(_decoder._repCountList, static_cast<long>(n) * copies);
    for (int c = 0; out && c < copies; ++c, out += n)
        std::copy(_factors.begin(), _factors.end(), out);
}

bool DescriptorWalker::decodeStandardData()
{
    _dataStart = _decoder._dataPtr;
    _bitStart = _decoder._bitOffset;
    _leftover = Leftover();
    bool ok = start(false);
    for (_subset = 0; ok && _subset < _subsets; ++_subset) {
        _logged = 0;
        ok = walk(_tree->rootBegin(), _tree->rootEnd());
    }
    if (ok) {
        BufrValues* v = newValues(static_cast<long>(_values.size()));
        for (const Item& item : _values) {
            v->fill(item.subset, item.descriptor, item.value, item.index);
            if (item.text >= 0)
                v->setCharValue(_texts[static_cast<std::size_t>(item.text)]);
            ++v;
        }
        storeFactors(1);
        checkLeftover();
    }
    giveBack(ok);
    return ok;
}

bool DescriptorWalker::decodeCompressedData()
{
    _dataStart = _decoder._dataPtr;
    _bitStart = _decoder._bitOffset;
    _leftover = Leftover();
    const bool ok = start(true) && (_subsets == 0 || walk(_tree->rootBegin(), _tree->rootEnd()));
    if (ok) {
        regroupBySubset();
        // Every subset has the same factors: _repCountList holds them once
        // per subset.
        storeFactors(_subsets);
        checkLeftover();
    }
    giveBack(ok);
    return ok;
}

bool DescriptorWalker::quiet() const
{
    return _decoder._quietReads;
}

namespace {

// Whether the whole octets after the octet the read position is in (after
// none, at an octet's start) are none, or all of one value: the fill an
// encoder pads with (zeros, blanks, all ones).
bool onlyFillAfter(const unsigned char* at, int bitOffset, const unsigned char* end)
{
    const unsigned char* const after = at + (bitOffset > 0 ? 1 : 0);
    return after >= end ||
           std::all_of(after, end, [fill = *after](unsigned char c) { return c == fill; });
}

} // namespace

void DescriptorWalker::checkLeftover()
{
    const unsigned char* const end = _decoder._dataEnd;
    const unsigned char* const after = _decoder._dataPtr + (_decoder._bitOffset > 0 ? 1 : 0);
    if (!end || after >= end)
        return;
    _leftover.octets = end - after;
    if (onlyFillAfter(_decoder._dataPtr, _decoder._bitOffset, end))
        return;
    // A message that declares no subsets has no data: what its section
    // holds can only be the data of subsets it does not count.
    if (_subsets == 0) {
        _leftover.subsetsLeft = true;
        return;
    }
    const long bytesLeft = _bytesLeft;
    const bool debug = _debug;
    const bool verbose = _verbose;
    _debug = _verbose = false;
    _decoder._quietReads = true;
    _leftover.subsetsLeft = _compressed ? readAgainWithOneMore() : readOneMoreSubset();
    _decoder._quietReads = false;
    _debug = debug;
    _verbose = verbose;
    _bytesLeft = bytesLeft;
}

long DescriptorWalker::givenValues(std::size_t from, std::size_t to) const
{
    long given = 0;
    for (std::size_t i = from; i < to; ++i) {
        const Item& item = _values[i];
        if (item.text >= 0 ? _texts[static_cast<std::size_t>(item.text)].length() > 0
                           : item.value != BufrDecoder::MISSING_VALUE &&
                                 item.value != BufrDecoder::NOT_IN_TABLE_B &&
                                 (item.descriptor / 1000) % 100 != 31)
            ++given;
    }
    return given;
}

bool DescriptorWalker::readOneMoreSubset()
{
    // The fewest values a subset of the message gives.
    long fewest = -1;
    for (std::size_t first = 0, i = 0; i < _values.size(); ++i) {
        if (i + 1 < _values.size() && _values[i + 1].subset == _values[i].subset)
            continue;
        const long given = givenValues(first, i + 1);
        fewest = fewest < 0 ? given : std::min(fewest, given);
        first = i + 1;
    }
    // One more subset from where the last one ended, with the operators in
    // force then, as the next subset would be read.
    const std::size_t first = _values.size();
    _subset = _subsets;
    _logged = 0;
    _steps = 0;
    _stepLimit = 1000000L + 16 * _decoder.bitsLeft();
    if (!walk(_tree->rootBegin(), _tree->rootEnd()))
        return false;
    const long given = givenValues(first, _values.size());
    return given > 0 && 2 * given >= fewest;
}

bool DescriptorWalker::readAgainWithOneMore()
{
    // Compressed data is read again from its start with one subset more:
    // every column then holds one more increment.
    const unsigned char* const endPtr = _decoder._dataPtr;
    const int endBit = _decoder._bitOffset;
    _decoder._dataPtr = _dataStart;
    _decoder._bitOffset = _bitStart;
    ++_decoder._subsets;
    const bool whole = start(true) && walk(_tree->rootBegin(), _tree->rootEnd());
    --_decoder._subsets;
    _subsets = _decoder._subsets > 0 ? _decoder._subsets : 0;
    return whole && (_decoder._dataPtr != endPtr || _decoder._bitOffset != endBit) &&
           onlyFillAfter(_decoder._dataPtr, _decoder._bitOffset, _decoder._dataEnd);
}

namespace {

// Empties a list; its room stays for the next message when it is small, or
// when the message just decoded filled at least half of it (messages of one
// kind come in a row): a larger message before, or one that failed, leaves
// none behind.
template <class T>
void emptyList(std::vector<T>& list, bool decoded)
{
    const std::size_t used = list.size();
    list.clear();
    if (static_cast<long>(list.capacity() * sizeof(T)) > DescriptorWalker::keptBytes &&
        !(decoded && list.capacity() <= 2 * used))
        std::vector<T>().swap(list);
}

} // namespace

void DescriptorWalker::giveBack(bool decoded)
{
    _bytesTaken = maxBytes - _bytesLeft;
    // The texts go with their last holder among the values.
    emptyList(_values, decoded);
    emptyList(_factors, decoded);
    emptyList(_columns, decoded);
    emptyList(_numbers, decoded);
    emptyList(_increments, decoded);
    emptyList(_texts, decoded);
    emptyList(_codings, decoded);
    emptyList(_columnValues, decoded);
    emptyList(_rowValues, decoded);
    emptyList(_varying, decoded);
}

bool DescriptorWalker::roomForValues()
{
    const long count = static_cast<long>(_values.size());
    if (count >= _valueLimit)
        return tooMuch("values");
    if (!charge(valueBlock * valueCost))
        return false;
    _nextValueCheck = std::min(_valueLimit, count + valueBlock);
    return true;
}

bool DescriptorWalker::tooLarge()
{
    if (!quiet())
        QEV_LOG(LogStream::PROBLEM, "DescriptorWalker")
            << "The values of the message would take more than " << (maxBytes >> 20)
            << " MB of memory; the message is not decoded" << std::endl;
    return false;
}

void DescriptorWalker::regroupBySubset()
{
    const long width = static_cast<long>(_columns.size());
    BufrValues* const out = newValues(width * _subsets);
    // What a column's values share: the descriptor, the index, and the text
    // when it is the same in every subset.
    _columnValues.clear();
    for (const Column& c : _columns) {
        _columnValues.emplace_back(0, c.descriptor, 0.0f, c.index, TextString::emptyString());
        if (c.text >= 0 && c.textStep == 0)
            _columnValues.back().setCharValue(_texts[static_cast<std::size_t>(c.text)]);
    }
    if (out && width * _subsets >= ROW_ORDER_VALUES)
        regroupByRows(out, width);
    else if (out)
        regroupByBlocks(out, width);
    // The texts of the columns that have one per subset.
    for (long k = 0; out && k < width; ++k) {
        const Column& c = _columns[static_cast<std::size_t>(k)];
        if (c.text < 0 || c.textStep == 0)
            continue;
        BufrValues* v = out + k;
        for (int s = 0; s < _subsets; ++s, v += width)
            v->setCharValue(_texts[static_cast<std::size_t>(c.text + s * c.textStep)]);
    }
    _columnValues.clear();
}

void DescriptorWalker::regroupByBlocks(BufrValues* out, long width)
{
    // A few subsets at a time, column by column: each column is read in
    // order and the values written stay within a few pages (one row of
    // values per subset), where reading every column for each subset would
    // touch a page per value.
    const float* const numbers = _numbers.data();
    const int block = 16;
    for (int first = 0; first < _subsets; first += block) {
        const int last = std::min(_subsets, first + block);
        for (long k = 0; k < width; ++k) {
            const Column& c = _columns[static_cast<std::size_t>(k)];
            const long step = c.valueStep;
            BufrValues::fillColumn(out + first * width + k, width,
                                   _columnValues[static_cast<std::size_t>(k)], first, last - first,
                                   numbers + c.first + first * step, step);
        }
    }
}

void DescriptorWalker::regroupByRows(BufrValues* out, long width)
{
    // A block of subsets at a time: their values are gathered into a small
    // buffer, row by row, each column read in order; then every row is
    // written in order.  Once the values pass the caches, one stream of
    // writes costs less than writes a row apart.
    const int block = std::min(16, _subsets);
    _rowValues.resize(static_cast<std::size_t>(block * width));
    float* const rows = _rowValues.data();
    const float* const numbers = _numbers.data();
    _varying.clear();
    for (long k = 0; k < width; ++k) {
        const Column& c = _columns[static_cast<std::size_t>(k)];
        if (c.valueStep != 0) {
            _varying.push_back(k);
            continue;
        }
        for (int r = 0; r < block; ++r)
            rows[r * width + k] = numbers[c.first];
    }
    for (int first = 0; first < _subsets; first += block) {
        const int count = std::min(block, _subsets - first);
        for (const long k : _varying) {
            const Column& c = _columns[static_cast<std::size_t>(k)];
            const float* column = numbers + c.first + static_cast<long>(first) * c.valueStep;
            for (int r = 0; r < count; ++r)
                rows[r * width + k] = column[r * c.valueStep];
        }
        for (int r = 0; r < count; ++r)
            BufrValues::fillRow(out + (first + r) * width, _columnValues.data(), width, first + r,
                                rows + r * width);
    }
}

bool DescriptorWalker::tooMuch(const char* what)
{
    if (!quiet())
        QEV_LOG(LogStream::PROBLEM, "DescriptorWalker")
            << "The descriptors call for more " << what << " than the data section's "
            << _decoder.bitsLeft() << " bits can hold; the message is not decoded" << std::endl;
    return false;
}

bool DescriptorWalker::readError()
{
    if (!quiet())
        QEV_LOG(LogStream::PROBLEM, "DescriptorWalker")
            << "The data section ends before its descriptors do" << std::endl;
    return false;
}

bool DescriptorWalker::walk(int begin, int end)
{
    for (int c = begin; c < end; ++c) {
        const DescriptorTree::Node& n = _tree->node(_tree->child(c));
        if (!step())
            return false;
        switch (n.kind) {
        case DescriptorTree::ELEMENT:
            if (!readElement(n))
                return false;
            break;
        case DescriptorTree::OPERATOR:
            if (!decodeSection2Desc(n))
                return false;
            break;
        case DescriptorTree::SEQUENCE:
            if (!walk(n.begin, n.end))
                return false;
            break;
        case DescriptorTree::REPLICATION:
            for (int r = 0; !n.empty && r < n.y; ++r) {
                if (!step() || !walk(n.begin, n.end))
                    return false;
            }
            break;
        case DescriptorTree::DELAYED_REPLICATION:
            if (!expandDelayedReplication(n))
                return false;
            break;
        }
    }
    return true;
}

const DataDescOps::Coding* DescriptorWalker::recode(int element)
{
    CachedCoding& cached = _codings[static_cast<std::size_t>(element)];
    if (cached.generation != _ops.generation()) {
        cached.fits = _ops.coding(_tree->element(element), cached.coding);
        cached.generation = _ops.generation();
    }
    if (cached.fits)
        return &cached.coding;
    if (!quiet())
        QEV_LOG(LogStream::PROBLEM, "DescriptorWalker")
            << "The reference value of descriptor " << _tree->element(element).descriptor
            << " does not fit 64 bits after its change; the message is not decoded" << std::endl;
    return nullptr;
}

bool DescriptorWalker::tooLarge(int descriptor, uint64_t coded, const DataDescOps::Coding& c)
{
    if (!quiet())
        QEV_LOG(LogStream::PROBLEM, "DescriptorWalker")
            << "Coded value " << coded << " of descriptor " << descriptor << " with reference "
            << c.reference << " does not fit 64 bits; the message is not decoded" << std::endl;
    return false;
}

bool DescriptorWalker::decodeSection2Desc(const DescriptorTree::Node& n)
{
    if (_ops.apply(n.x, n.y))
        return true;
    if (!quiet())
        QEV_LOG(LogStream::PROBLEM, "DescriptorWalker")
            << (_compressed ? "Unable to process section 2 descriptors"
                            : "Unable to decode section 2 descriptors")
            << std::endl;
    return false;
}

bool DescriptorWalker::readElement(const DescriptorTree::Node& n)
{
    const DescriptorTree::Element& e = _tree->element(n.element);
    if (_ops.definingReferences() > 0)
        return _ops.changeDataReference(e) || readError();

    const int signified = _ops.takeSignifiedWidth();
    const int assoc = _ops.assocFieldWidth();
    if (assoc > 0 && !e.class31 && !skipField(assoc))
        return readError();
    if (!e.known) {
        if (signified < 0) {
            if (quiet()) {
            } else if (_compressed) {
                QEV_LOG(LogStream::PROBLEM, "DescriptorWalker")
                    << "Code " << e.descriptor << " does not exist in tableb." << std::endl;
                QEV_LOG(LogStream::PROBLEM, "DescriptorWalker")
                    << "Unable to get compressed decoded value for: " << e.descriptor
                    << std::endl;
                _tree->logReason(e);
            } else {
                QEV_LOG(LogStream::PROBLEM, "DescriptorWalker")
                    << "Code " << e.descriptor << " does not exist in table B." << std::endl;
                _tree->logReason(e);
            }
            return false;
        }
        // A local element the tables lack: 2 06 told its width.
        if (!skipField(signified))
            return readError();
        return addUnknown(e.descriptor);
    }

    const DataDescOps::Coding* c = codingOf(n.element);
    if (!c)
        return false;
    DataDescOps::Coding signifiedCoding;
    if (signified >= 0) {
        signifiedCoding = *c;
        signifiedCoding.width = signified;
        c = &signifiedCoding;
        if (_verbose)
            QEV_LOG(LogStream::VERBOSE, "DescriptorWalker")
                << "Signifying data width in table B of descriptor " << e.descriptor << " from "
                << e.width << " to " << signified << " bits" << std::endl;
    }
    // The significance of the associated field is read and not kept.
    if (e.descriptor == 31021 && assoc > 0)
        return skipField(c->width) || readError();
    if (!e.character && (c->width < 0 || c->width > 64)) {
        if (!quiet())
            QEV_LOG(LogStream::PROBLEM, "DescriptorWalker")
                << "Data width " << c->width << " of descriptor " << e.descriptor
                << " cannot be read" << std::endl;
        return false;
    }
    return _compressed ? getCompressedValue(e, *c) : readStandard(e, *c);
}

bool DescriptorWalker::readStandard(const DescriptorTree::Element& e,
                                    const DataDescOps::Coding& c)
{
    if (e.character) {
        TextString text;
        if (!charge(textCost(c.width / 8)))
            return false;
        if (!readText(c.width / 8, text) || !_decoder.advanceBits(c.width))
            return readError();
        _texts.push_back(text);
        return addValue(e.descriptor, BufrDecoder::CHARACTER_VALUE,
                        static_cast<int>(_texts.size()) - 1);
    }
    float value = BufrDecoder::MISSING_VALUE;
    if (c.width > 0) {
        uint64_t raw = 0;
        if (!_decoder.takeBits(c.width, raw))
            return readError();
        if (!BufrDecoder::isMissing(e.class31, raw, c.width) && !scaled(raw, c, value))
            return tooLarge(e.descriptor, raw, c);
    }
    return addValue(e.descriptor, value, -1);
}

bool DescriptorWalker::getCompressedValue(const DescriptorTree::Element& e,
                                          const DataDescOps::Coding& c)
{
    if (!roomForColumn())
        return false;
    Column col = newColumn(e.descriptor);
    uint64_t nbinc = 0;
    if (e.character) {
        TextString r0;
        if (!readText(c.width / 8, r0) || !_decoder.advanceBits(c.width) ||
            !_decoder.takeBits(BufrDecoder::NBINC, nbinc))
            return readError();
        // One text for every subset, or one that every subset's value shares.
        if (!charge(nbinc == 0 ? textCost(c.width / 8)
                               : _subsets * textCost(static_cast<long>(nbinc))))
            return false;
        col.text = static_cast<int>(_texts.size());
        if (nbinc == 0) {
            _texts.push_back(r0);
            col.textStep = 0;
        }
        for (int s = 0; nbinc > 0 && s < _subsets; ++s) {
            TextString text;
            if (!readText(static_cast<int>(nbinc), text) ||
                !_decoder.advanceOctets(static_cast<int>(nbinc)))
                return readError();
            _texts.push_back(text);
        }
        sameValue(col, BufrDecoder::CHARACTER_VALUE);
    } else {
        uint64_t r0 = 0;
        if ((c.width > 0 && !_decoder.takeBits(c.width, r0)) ||
            !_decoder.takeBits(BufrDecoder::NBINC, nbinc))
            return readError();
        // Every value is R0 + increment within the element's width.
        if (static_cast<int>(nbinc) > c.width) {
            if (!quiet())
                QEV_LOG(LogStream::PROBLEM, "DescriptorWalker")
                    << "Increment width " << nbinc << " of descriptor " << e.descriptor
                    << " is wider than its data width of " << c.width
                    << " bits; the message is not decoded" << std::endl;
            return false;
        }
        if (!charge((nbinc == 0 ? 1 : _subsets) * static_cast<long>(sizeof(float))))
            return false;
        if (nbinc == 0) {
            float value = BufrDecoder::MISSING_VALUE;
            if (c.width > 0 && !BufrDecoder::isMissing(e.class31, r0, c.width) &&
                !scaled(r0, c, value))
                return tooLarge(e.descriptor, r0, c);
            sameValue(col, value);
        } else if (!readIncrements(e, c, r0, static_cast<int>(nbinc))) {
            for (int s = 0; s < _subsets; ++s) {
                uint64_t increment = 0;
                if (!_decoder.takeBits(static_cast<int>(nbinc), increment))
                    return readError();
                float value = BufrDecoder::MISSING_VALUE;
                uint64_t coded = 0;
                if (!BufrDecoder::isMissing(e.class31, increment, static_cast<int>(nbinc)) &&
                    (__builtin_add_overflow(r0, increment, &coded) || !scaled(coded, c, value)))
                    return tooLarge(e.descriptor, r0 + increment, c);
                _numbers.push_back(value);
            }
        }
    }
    _columns.push_back(col);
    if (_verbose) {
        QEV_LOG(LogStream::VERBOSE, "DescriptorWalker")
            << "compressed value[" << _logged++ << "]= " << _numbers[col.first] << std::endl;
    }
    return true;
}

bool DescriptorWalker::readIncrements(const DescriptorTree::Element& e,
                                      const DataDescOps::Coding& c, uint64_t r0, int nbinc)
{
    // The column is checked once: its increments lie within the data, and
    // every value R0 + increment + reference, from the smallest to the
    // largest (all ones), fits 32 bits.
    if (nbinc < 1 || nbinc > 56 || _decoder.bitsLeft() < static_cast<long>(nbinc) * _subsets ||
        r0 > static_cast<uint64_t>(INT32_MAX))
        return false;
    const uint64_t ones = (uint64_t(1) << nbinc) - 1;
    int64_t low = 0;
    int64_t high = 0;
    if (__builtin_add_overflow(static_cast<int64_t>(r0), c.reference, &low) ||
        __builtin_add_overflow(low, static_cast<int64_t>(ones), &high) || low < INT32_MIN ||
        high > INT32_MAX)
        return false;

    // R0 + increment + reference for every subset.
    _increments.resize(static_cast<std::size_t>(_subsets));
    int32_t* sum = _increments.data();
    const unsigned char* const data = _decoder._dataPtr;
    const unsigned char* const end = _decoder._dataEnd;
    uint64_t bit = static_cast<uint64_t>(_decoder._bitOffset);
    bool anyOnes = false;
    for (int s = 0; s < _subsets; ++s, bit += static_cast<uint64_t>(nbinc)) {
        const unsigned char* p = data + (bit >> 3);
        uint64_t word = 0;
        if (end - p >= 8) {
            word = BufrDecoder::readBigEndian8(p);
        } else {
            for (int i = 0; p + i < end; ++i)
                word |= uint64_t(p[i]) << (56 - 8 * i);
        }
        const uint64_t raw = (word << (bit & 7)) >> (64 - nbinc);
        anyOnes = anyOnes || raw == ones;
        sum[s] = static_cast<int32_t>(low + static_cast<int64_t>(raw));
    }
    const uint64_t total = static_cast<uint64_t>(_decoder._bitOffset) +
                           static_cast<uint64_t>(nbinc) * static_cast<uint64_t>(_subsets);
    _decoder._dataPtr += total >> 3;
    _decoder._bitOffset = static_cast<int>(total & 7);

    // The values in a loop of its own, which the compiler vectorises; a
    // scale of 0 divides by 1, which changes nothing.
    const std::size_t first = _numbers.size();
    _numbers.resize(first + static_cast<std::size_t>(_subsets));
    float* value = _numbers.data() + first;
    if (c.scale == 0) {
        for (int s = 0; s < _subsets; ++s)
            value[s] = static_cast<float>(sum[s]);
    } else {
        const double divisor = c.divisor;
        for (int s = 0; s < _subsets; ++s)
            value[s] = static_cast<float>(static_cast<double>(sum[s]) / divisor);
    }
    // All ones is missing (a count in class 31).
    if (anyOnes && !e.class31) {
        const int32_t missing = static_cast<int32_t>(high);
        for (int s = 0; s < _subsets; ++s) {
            if (sum[s] == missing)
                value[s] = BufrDecoder::MISSING_VALUE;
        }
    }
    return true;
}

DescriptorWalker::Column DescriptorWalker::newColumn(int descriptor) const
{
    Column col;
    col.descriptor = descriptor;
    col.index = _repetition;
    col.first = static_cast<int>(_numbers.size());
    col.text = -1;
    col.textStep = 1;
    col.valueStep = 1;
    return col;
}

void DescriptorWalker::sameValue(Column& col, float value)
{
    _numbers.push_back(value);
    col.valueStep = 0;
}

bool DescriptorWalker::readFactor(const DescriptorTree::Element& e, int& factor)
{
    if (!e.known) {
        if (!quiet()) {
            QEV_LOG(LogStream::PROBLEM, "DescriptorWalker")
                << "Code " << e.descriptor << " does not exist in table B." << std::endl;
            _tree->logReason(e);
        }
        return false;
    }
    // Class 31: no operator changes its width, and all ones is a count.
    uint64_t raw = 0;
    if (!_decoder.takeBits(e.width, raw))
        return readError();
    if (_compressed) {
        uint64_t nbinc = 0;
        if (!_decoder.takeBits(BufrDecoder::NBINC, nbinc))
            return readError();
        for (int s = 0; nbinc > 0 && s < _subsets; ++s) {
            uint64_t increment = 0;
            if (!_decoder.takeBits(static_cast<int>(nbinc), increment))
                return readError();
            if (increment != 0) {
                if (!quiet())
                    QEV_LOG(LogStream::PROBLEM, "DescriptorWalker")
                        << "Delayed replication factor " << e.descriptor
                        << " differs between the subsets of compressed data" << std::endl;
                return false;
            }
        }
    }
    if (raw > 0x7FFFFFFF) {
        if (!quiet())
            QEV_LOG(LogStream::PROBLEM, "DescriptorWalker")
                << "Delayed replication factor " << raw << " cannot be used" << std::endl;
        return false;
    }
    factor = static_cast<int>(raw);
    return true;
}

bool DescriptorWalker::expandDelayedReplication(const DescriptorTree::Node& n)
{
    const DescriptorTree::Element& fe = _tree->element(n.element);
    int factor = 0;
    if (!readFactor(fe, factor))
        return false;
    // The factor is listed once per subset of compressed data: it takes its
    // room among the values, or a few bits of data would list factors by
    // the billion.
    const long copies = _compressed ? _subsets : 1;
    if (storedValues() + copies > _valueLimit)
        return tooMuch("values and replication factors");
    if (!charge((1 + copies) * static_cast<long>(sizeof(int))))
        return false;
    _valueLimit -= copies;
    _nextValueCheck = std::min(_nextValueCheck, _valueLimit);
    _factors.push_back(factor);
    if (_verbose) {
        QEV_LOG(LogStream::VERBOSE, "DescriptorWalker")
            << (_compressed ? "Number of repetitions of compressed data: "
                            : "Number of repetitions of standard format data: ")
            << factor << std::endl;
    }
    const int outer = _repetition;
    const bool ok = insertReplications(n, factor);
    _repetition = outer;
    return ok;
}

bool DescriptorWalker::insertReplications(const DescriptorTree::Node& n, int factor)
{
    if (DescriptorTree::isRepetitionFactor(_tree->element(n.element).descriptor)) {
        // The group's data is there once and stands for every repetition.
        if (factor <= 0)
            return true;
        _repetition = 0;
        std::size_t from = _compressed ? _columns.size() : _values.size();
        if (!walk(n.begin, n.end))
            return false;
        std::size_t to = _compressed ? _columns.size() : _values.size();
        return repeatValues(from, to, factor);
    }
    for (int r = 0; r < factor; ++r) {
        _repetition = r;
        if (!step() || !walk(n.begin, n.end))
            return false;
    }
    return true;
}

bool DescriptorWalker::repeatValues(std::size_t from, std::size_t to, int factor)
{
    const long perCopy = static_cast<long>(to - from) * (_compressed ? _subsets : 1);
    if (storedValues() + perCopy * (factor - 1L) > _valueLimit)
        return tooMuch("values");
    // Each copy costs what its values cost, a text an entry of its own.
    long copyCost = 0;
    for (std::size_t i = from; i < to; ++i) {
        const bool text = _compressed ? _columns[i].text >= 0 : _values[i].text >= 0;
        const long entry = text ? static_cast<long>(sizeof(BufrValueExtras::Entry)) : 0;
        copyCost += _compressed ? static_cast<long>(sizeof(Column)) +
                                      _subsets * (columnValueCost + entry)
                                : valueCost + entry;
    }
    if (!charge(copyCost * (factor - 1L)))
        return false;
    for (int r = 1; r < factor; ++r) {
        for (std::size_t i = from; i < to; ++i) {
            if (_compressed) {
                Column c = _columns[i];
                c.index = r;
                _columns.push_back(c);
            } else {
                Item v = _values[i];
                v.index = r;
                _values.push_back(v);
            }
        }
    }
    return true;
}

bool DescriptorWalker::skipField(int width)
{
    if (width < 0 || !_decoder.advanceBits(width))
        return false;
    if (!_compressed)
        return true;
    uint64_t nbinc = 0;
    return _decoder.takeBits(BufrDecoder::NBINC, nbinc) &&
           (nbinc == 0 || _decoder.advanceBits(static_cast<int>(nbinc) * _subsets));
}

bool DescriptorWalker::addUnknown(int descriptor)
{
    if (!_compressed)
        return addValue(descriptor, BufrDecoder::NOT_IN_TABLE_B, -1);
    if (!roomForColumn() || !charge(sizeof(float)))
        return false;
    Column col = newColumn(descriptor);
    sameValue(col, BufrDecoder::NOT_IN_TABLE_B);
    _columns.push_back(col);
    return true;
}

void DescriptorWalker::logValue(float value)
{
    QEV_LOG(LogStream::DEBUG, "DescriptorWalker") << "std value[" << _logged++ << "]= " << value
                                                  << std::endl;
}

bool DescriptorWalker::readText(int count, TextString& text)
{
    if (count > 0 && _decoder.bitsLeft() >= 8L * count) {
        text = _decoder.characterValue(count, _textBuffer);
        return true;
    }
    text = TextString();
    // Past the end: the overrun is logged and flagged.
    return count <= 0 || _decoder.advanceBits(8 * count);
}
