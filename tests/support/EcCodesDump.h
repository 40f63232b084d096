// The values of one BUFR message as ecCodes decodes them, for comparison
// with the project's decoder.
//
// Made from two outputs of ecCodes' tools for a file of exactly one message:
// - `bufr_dump -ja`: the header keys, and every data value with its key,
//   descriptor ("code"), units, scale, reference and width.  ecCodes numbers
//   the values of a message in data order ("index": within the message for
//   standard data, within one subset for compressed data); elements, delayed
//   replication factors, the values of bitmapped quality elements and
//   associated fields each take a number, and so do some operators
//   (2 22 000, 2 36 000, ...) and 2 05 texts.  Associated fields and
//   bitmapped values are printed as attributes of the element they belong
//   to, so one number may be printed several times; the dump keeps it once.
//   A number ecCodes prints no value for is kept as an Unprinted position.
// - `bufr_filter` printing numericValues with 17 digits (or a ref/*.num.ref
//   dump of the same layout): one number per numbered value, subset after
//   subset, -1e+100 for a missing one.  The JSON prints numbers with six
//   significant digits; these give the full value.
#ifndef ECCODESDUMP_H
#define ECCODESDUMP_H

#include <map>
#include <string>
#include <vector>

class JsonValue;

class EcCodesDump {
public:
    // What a numbered position holds.
    enum Role {
        Element,                 // an element or a delayed replication factor
        AssociatedField,         // 2 04 field (descriptor 999999)
        AssociatedSignificance,  // its 0 31 021, printed inside the field
        Operator,                // 2 XX YYY printed as a value of its own
        OperatorText,            // 2 05 YYY characters (no descriptor)
        Unprinted                // numbered, but ecCodes printed nothing
    };
    enum Kind { Number, Text, Missing };

    struct Value {
        int index = 0;           // ecCodes' number of the position
        int descriptor = -1;     // F*100000 + X*1000 + Y; -1 when none is printed
        std::string key;
        std::string units;
        int scale = 0;
        int reference = 0;
        int width = 0;
        Role role = Unprinted;
        Kind kind = Missing;
        double number = 0.0;
        // How far the printed number may be from the coded one: half a unit
        // of the sixth significant digit for a JSON literal, 0 once the full
        // value is known.
        double printError = 0.0;
        std::string text;
        // The repetition number inside a delayed replication group, where a
        // test knows it; ecCodes prints none (-1).
        int repetition = -1;
        // The number of the element whose attribute it was first printed as
        // (quality information a bit map links to it); -1 for none.
        int owner = -1;
    };

    static constexpr double missingNumber = -1e100;

    // Reads `bufr_dump -ja` output of one message.  False (with a reason)
    // for text that is not such a dump or holds more than one message.
    bool parseJson(const std::string& json, std::string& error);

    // Takes the full numbers from a numericValues listing; each must agree
    // with the JSON within its print error, else nothing changes and
    // `error` names the first disagreement.
    bool applyNumericValues(const std::vector<double>& numbers, std::string& error);
    // The positions where a listing of the numericValues layout disagrees
    // with this dump (beyond 1e-9 relative); the first few are described.
    int numbersDisagreeing(const std::vector<double>& numbers, std::vector<std::string>& details,
                           std::size_t maxDetails) const;
    // White-space separated numbers; false at a word that is none.
    static bool readNumbers(const std::string& text, std::vector<double>& numbers);

    // Differences between two dumps of the same message (e.g. decoded with
    // two table versions): positions, descriptors, scales, widths and values.
    static int differences(const EcCodesDump& a, const EcCodesDump& b,
                           std::vector<std::string>& details, std::size_t maxDetails);

    // An element position holding a number, for references a test writes.
    static Value element(int descriptor, double number, int scale);

    // The comparison rules both decoders are held to.  A number may be off
    // by half a unit of its scale (0.5 * 10^-scale) plus its print error;
    // texts are equal when they are equal without leading and trailing
    // blanks (and NULs, which some encoders pad with).
    static double tolerance(const Value& v);
    static bool sameText(const std::string& a, const std::string& b);
    static std::string trimmed(const std::string& text);

    // "subset 2 #14 012101 airTemperature = 273.15".
    static std::string describe(int subset, const Value& v);
    // Every position in short, subsets separated by " | ": "012101=273.15",
    // "001015='NAME'", "012101=missing"; a role other than Element is marked
    // "A:" (associated field), "S:" (its significance), "O:" (operator),
    // "T:" (2 05 text), "U:" (unprinted).  With `coding` the descriptor is
    // followed by [scale,reference,width].
    std::string listing(bool coding = false) const;

    // A numeric header key ("typicalYear", ...), or -1 when absent.
    int header(const std::string& key) const;
    int edition() const { return header("edition"); }
    int masterTablesVersion() const { return header("masterTablesVersionNumber"); }
    int subsetCount() const { return header("numberOfSubsets"); }
    bool compressed() const { return header("compressedData") > 0; }
    // Each subset's numbered positions, in data order.
    const std::vector<std::vector<Value> >& subsets() const { return _subsets; }

private:
    struct Entry {
        const JsonValue* object;
        Role role;
        int group;     // the subsetNumber block it was printed in
        int owner;     // the number of the element it was printed within, or -1
    };
    void collect(const JsonValue& node, bool inAssociatedField, int owner,
                 std::vector<Entry>& entries, int& group, std::string& error);
    bool fill(const Entry& entry, int subset, Value& v, std::string& error) const;
    // Position of a value in the numericValues layout.
    std::size_t layoutIndex(int subset, const Value& v) const;
    std::size_t layoutSize() const;

    std::map<std::string, int> _header;
    int _indicesPerSubset = 0;     // compressed data: the highest index
    std::vector<std::vector<Value> > _subsets;
};

#endif
