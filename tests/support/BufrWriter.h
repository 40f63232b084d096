// Builds BUFR messages (FM 94, editions 3 and 4, standard and compressed data)
// for tests.  It stands apart from the decoder: its own table B reader and its
// own bit writer, so that an encoding fault cannot hide on both sides.
//
// The writer is deliberately dumb: it does not walk the descriptors.  The test
// states section 3 as it is written (unexpanded), then writes the data in data
// order; element values are coded with the table B scale, reference and width
// of their descriptor, changed by the operators the test announces with op().
//
//   BufrWriter w;                                  // edition 4, data/bufrTableB
//   w.category(2).dateTime(2004, 3, 15, 12, 0).subsets(1)
//    .descriptors({301011, 101000, 31001, 12101});
//   w.element(4001, 2004).element(4002, 3).element(4003, 15)
//    .factor(31001, 2).element(12101, 273.15).element(12101, 270.0);
//   std::vector<unsigned char> msg = w.build();     // empty when w.ok() is false
//
// Compressed data (compressed(true)) is written one column per element over
// all subsets: column(), charsColumn(), factorColumn(), rawColumn().
//
// Operator rules the writer applies (as the WMO regulations have them):
// 2 01, 2 02, 2 03 and 2 07 change numeric elements only (not CCITT IA5, code
// or flag tables, not class 31); 2 08 changes CCITT IA5 elements; 2 04 puts the
// associated field before every element but those of class 31.  Delayed
// replication factors are written with their table B width.  2 05 and 2 06
// data are written by the test with text() and bits().
#ifndef BUFRWRITER_H
#define BUFRWRITER_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class BufrWriter {
public:
    typedef std::vector<unsigned char> Bytes;

    // Table B from the path given, or from QEV_SOURCE_DIR "/data/bufrTableB".
    explicit BufrWriter(int edition = 4, const std::string& tableBPath = std::string());

    // The missing entry of a value (a NaN): element() and column() code it as
    // all ones.
    static double missingValue();

    // Table B: adds or replaces an element (local descriptors of a test).
    BufrWriter& localElement(int descriptor, int scale, int reference, int width,
                             const std::string& units = "NUMERIC");

    // Sections 1 and 2.
    BufrWriter& centre(int centre, int subCentre = 0)
    { _centre = centre, _subCentre = subCentre; return *this; }
    BufrWriter& masterTableVersion(int version, int localVersion = 0)
    { _masterVersion = version, _localVersion = localVersion; return *this; }
    BufrWriter& category(int dataCategory, int subCategory = 0, int localSubCategory = 0)
    {
        _category = dataCategory, _subCategory = subCategory, _localSubCategory = localSubCategory;
        return *this;
    }
    BufrWriter& dateTime(int year, int month, int day, int hour, int minute, int second = 0)
    { _time = {year, month, day, hour, minute, second}; return *this; }
    BufrWriter& section2(const Bytes& content)
    { _hasSection2 = true, _section2 = content; return *this; }

    // Section 3.  Descriptors as F*100000 + X*1000 + Y.
    BufrWriter& subsets(int count);
    BufrWriter& observed(bool on) { _observed = on; return *this; }
    BufrWriter& compressed(bool on) { _compressed = on; return *this; }
    BufrWriter& descriptors(const std::vector<int>& list);

    // Operators met in the data, in both forms: 2 01, 2 02, 2 03, 2 04, 2 07
    // and 2 08 change how the following elements are coded; others are noted
    // only.  newReference() writes one 2 03 YYY reference value (YYY bits, the
    // first the sign; in compressed data followed by a 6-bit NBINC of 0) and
    // makes it the descriptor's reference.  associatedValue() is the raw value
    // written into every associated field from then on (default 0).
    BufrWriter& op(int descriptor);
    BufrWriter& newReference(int descriptor, long reference);
    BufrWriter& associatedValue(uint64_t raw) { _assocRaw = raw; return *this; }

    // Standard data, all subsets one after the other.
    BufrWriter& element(int descriptor, double value);
    BufrWriter& missing(int descriptor) { return element(descriptor, missingValue()); }
    BufrWriter& chars(int descriptor, const std::string& text);
    BufrWriter& factor(int descriptor, unsigned count)
    { putFactor("factor", false, descriptor, count); return *this; }

    // Raw data, in both forms: `width` bits of value; `octets` characters of
    // text, padded with blanks (2 05 YYY data in standard form).
    BufrWriter& bits(uint64_t value, int width);
    BufrWriter& text(const std::string& text, int octets);

    // Compressed data, one column per element: R0, NBINC, the increments.
    // Values all equal give NBINC 0; a missing entry an all-ones increment.
    BufrWriter& column(int descriptor, const std::vector<double>& values);
    // Texts all equal: R0 = the text, NBINC 0; else R0 zero, NBINC = octets
    // and one text per subset.
    BufrWriter& charsColumn(int descriptor, const std::vector<std::string>& texts);
    BufrWriter& textColumn(int octets, const std::vector<std::string>& texts);
    BufrWriter& factorColumn(int descriptor, unsigned count)
    { putFactor("factorColumn", true, descriptor, count); return *this; }
    BufrWriter& rawColumn(int width, uint64_t r0, int nbinc,
                          const std::vector<uint64_t>& increments);

    // The whole message, or no octet when a call failed.
    Bytes build() const;
    bool ok() const { return _error.empty(); }
    const std::string& error() const { return _error; }

    // Helpers for malformed messages and files.
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
    // Offset of section 0..5 in a message starting with "BUFR", or npos.
    static std::size_t sectionOffset(const Bytes& message, int section);
    // Writes `value` big-endian into `octets` octets at `offset` (in range).
    static void putUnsigned(Bytes& message, std::size_t offset, uint64_t value, int octets);
    static Bytes truncated(const Bytes& message, std::size_t size);
    // The message with "7776" in place of its end sentinel "7777".
    static Bytes withoutEndMarker(const Bytes& message);
    static Bytes withHeader(const std::string& header, const Bytes& message);
    // Every message of a file (found by its framing, as findBufrMessages
    // finds them) with `padding` after its data: its section 4 and its
    // total length grow by the padding's size.
    static Bytes withPadding(const Bytes& file, const Bytes& padding);
    static bool writeFile(const std::string& path, const Bytes& content);

private:
    struct Element {
        std::string units;
        int scale;
        long long reference;
        int width;
    };
    // An element's coding under the operators in force.
    struct Coding : Element {
        bool text = false;
    };

    bool fail(const std::string& what);
    enum Kind { Number, Chars, Either };
    // The coding of an element of that kind written by `call` in the form it
    // requires (compressed or standard); false (with the error) when it
    // cannot be.
    bool coding(const char* call, bool inCompressed, int descriptor, Kind kind, Coding& out);
    bool codeValue(int descriptor, double value, const Coding& c, uint64_t& coded);
    void associatedField(int descriptor);
    void put(uint64_t value, int width);
    void putText(const std::string& text, int octets);
    void putTextColumn(int octets, const std::vector<std::string>& texts);
    void putFactor(const char* call, bool inCompressed, int descriptor, unsigned count);
    bool form(const char* call, bool inCompressed);

    int _edition;
    int _centre = 7;
    int _subCentre = 0;
    int _masterVersion = 39;
    int _localVersion = 0;
    int _category = 0;
    int _subCategory = 0;
    int _localSubCategory = 0;
    std::vector<int> _time = {2004, 3, 15, 12, 0, 0};
    bool _hasSection2 = false;
    Bytes _section2;
    int _subsets = 1;
    bool _observed = true;
    bool _compressed = false;
    std::vector<int> _descriptors;

    std::map<int, Element> _table;
    Bytes _data;
    int _used = 8;    // bits used in the last octet of _data
    std::string _error;

    // Operator state.
    int _widthDelta = 0;
    int _scaleDelta = 0;
    int _referenceBits = 0;
    std::map<int, long> _newReferences;
    int _assocWidth = 0;
    uint64_t _assocRaw = 0;
    int _increase207 = 0;
    int _textWidth208 = 0;
};

#endif
