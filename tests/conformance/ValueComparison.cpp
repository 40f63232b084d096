#include "ValueComparison.h"

#include "BufrDecoder.h"

#include <cmath>
#include <cstdio>

namespace {

std::string decodedText(const BufrValues& d)
{
    TextString t = d.getCharValue();
    return std::string(t.c_str(), static_cast<std::size_t>(t.length()));
}

std::string describeDecoded(const BufrValues& d)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%06d = %.9g", d.getDescriptor(), d.getValue());
    std::string s = buf;
    if (d.getCharValue().length() > 0)
        s += " '" + decodedText(d) + "'";
    return s;
}

bool isCharacter(const EcCodesDump::Value& v)
{
    return v.kind == EcCodesDump::Text || v.units == "CCITT IA5";
}

} // namespace

ValueComparison::ValueComparison(const SeqOf<BufrValues>& decoded, const Reference& reference,
                                 std::size_t maxDetails)
    : _maxDetails(maxDetails)
{
    // The decoded values by subset; subset numbers must count up from 0.
    std::vector<std::vector<const BufrValues*> > bySubset;
    int previous = 0;
    for (int i = 0; i < decoded.length(); ++i) {
        const BufrValues& v = decoded[i];
        int s = v.getSubset();
        if (s < previous || s < 0) {
            mismatch("value " + std::to_string(i) + " has subset " + std::to_string(s) +
                     " after subset " + std::to_string(previous));
            return;
        }
        previous = s;
        if (static_cast<std::size_t>(s) >= bySubset.size())
            bySubset.resize(s + 1);
        bySubset[s].push_back(&v);
    }
    if (bySubset.size() != reference.size())
        mismatch(std::to_string(bySubset.size()) + " subsets decoded, the reference has " +
                 std::to_string(reference.size()));
    for (std::size_t s = 0; s < bySubset.size() && s < reference.size(); ++s)
        compareSubset(static_cast<int>(s), bySubset[s], reference[s]);
}

void ValueComparison::mismatch(const std::string& what)
{
    ++_mismatches;
    if (_details.size() < _maxDetails)
        _details.push_back(what);
}

bool ValueComparison::listed(const EcCodesDump::Value& v)
{
    // Delayed replication and repetition factors go to _repCountList.
    const bool factor = v.descriptor == 31000 || v.descriptor == 31001 ||
                        v.descriptor == 31002 || v.descriptor == 31011 || v.descriptor == 31012;
    return (v.role == EcCodesDump::Element && !factor) || v.role == EcCodesDump::Unprinted;
}

void ValueComparison::compareSubset(int subset, const std::vector<const BufrValues*>& decoded,
                                    const std::vector<EcCodesDump::Value>& reference)
{
    std::size_t k = 0;
    for (const EcCodesDump::Value& ref : reference) {
        if (!listed(ref))
            continue;
        if (k == decoded.size()) {
            mismatch("subset " + std::to_string(subset) + " ends after " + std::to_string(k) +
                     " values; the reference goes on with " +
                     EcCodesDump::describe(subset, ref));
            return;
        }
        const BufrValues& d = *decoded[k++];
        if (ref.descriptor >= 0 && d.getDescriptor() != ref.descriptor) {
            mismatch("out of step at value " + std::to_string(k - 1) + ": decoded " +
                     describeDecoded(d) + ", reference " + EcCodesDump::describe(subset, ref));
            return;
        }
        ++_compared;
        if (ref.descriptor < 0)
            ++_unchecked;
        std::string why;
        if (!sameValue(d, ref, why))
            mismatch(EcCodesDump::describe(subset, ref) + ": decoded " + describeDecoded(d) +
                     " (" + why + ")");
    }
    if (k < decoded.size())
        mismatch("subset " + std::to_string(subset) + " has " +
                 std::to_string(decoded.size() - k) + " values more than the reference, from " +
                 describeDecoded(*decoded[k]));
}

bool ValueComparison::sameValue(const BufrValues& decoded, const EcCodesDump::Value& v,
                                std::string& why)
{
    float value = decoded.getValue();
    if (v.repetition >= 0 && decoded.getIndex() != v.repetition) {
        why = "index " + std::to_string(decoded.getIndex()) + ", expected " +
              std::to_string(v.repetition);
        return false;
    }
    bool referenceUndefined = v.kind == EcCodesDump::Number && v.number == 99999.0;
    if (value == BufrDecoder::NOT_IN_TABLE_B && !referenceUndefined) {
        why = "descriptor not in the project's table B";
        return false;
    }
    if (isCharacter(v)) {
        std::string expected = v.kind == EcCodesDump::Text ? v.text : std::string();
        std::string text = decodedText(decoded);
        if (value != BufrDecoder::CHARACTER_VALUE) {
            why = "not decoded as a character element";
            return false;
        }
        if (EcCodesDump::sameText(text, expected))
            return true;
        std::string full = EcCodesDump::trimmed(expected);
        std::string got = EcCodesDump::trimmed(text);
        bool cut = !got.empty() && full.compare(0, got.size(), got) == 0 &&
                   full.size() > got.size() && full[got.size()] == ' ';
        why = cut ? "text cut at a blank" : "text differs";
        return false;
    }
    if (v.kind == EcCodesDump::Missing) {
        if (value == BufrDecoder::MISSING_VALUE)
            return true;
        why = "the reference is missing";
        return false;
    }
    if (value == BufrDecoder::MISSING_VALUE) {
        why = "decoded as missing";
        return false;
    }
    double allowed = EcCodesDump::tolerance(v) + std::fabs(v.number) * std::ldexp(1.0, -24);
    double off = std::fabs(static_cast<double>(value) - v.number);
    if (off <= allowed)
        return true;
    char buf[64];
    std::snprintf(buf, sizeof buf, "off by %.6g, allowed %.3g", off, allowed);
    why = buf;
    return false;
}
