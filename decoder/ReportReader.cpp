#include "ReportReader.h"

#include "BufrDecoder.h"
#include "DescriptorTree.h"
#include "ElementForms.h"

#include <algorithm>
#include <unordered_set>

namespace {

const int GENERATING_CENTRE = 1031;
const int GENERATING_APPLICATION = 1032;
const int DATA_PRESENT = 31031;
const int ASSOCIATED_SIGNIFICANCE = 31021;

} // namespace

// The state of the layout's replay through the values.
struct ReportReader::Walk {
    const Layout& layout;
    int subset = 0;
    int next = 0;                 // the next value to place
    int factor = 0;               // the next factor to take
    int factorsEnd = 0;           // past this subset's factors
    long steps = 0;
    long stepLimit = 0;
    bool definingReferences = false;    // 2 03 YYY: elements carry no value
    int associatedFields = 0;           // 2 04 YYY in force
    // Per group list (the outer groups, then the nested ones), the nested
    // group of each factor descriptor in it.
    std::vector<std::vector<int> > groupNested;
    std::vector<std::vector<int> > nestedNested;
    std::vector<int> topNested;         // the outer group of each top factor
    QualityState quality;
    explicit Walk(const Layout& l) : layout(l) {}
};

ReportReader::ReportReader(const SeqOf<BufrValues>& values, const Layout& layout)
    : _values(values), _layout(layout)
{
    const size_t n = static_cast<size_t>(values.length());
    _scopeOf.assign(n, NONE);
    _flags.assign(n, PLAIN);
    _targets.assign(n, NONE);
    _laidOut = layOut(_layout);
    if (!_laidOut) {
        _scopes.clear();
        _subsetScopes.clear();
        _replications.clear();
        _scopeOf.assign(n, NONE);
        _flags.assign(n, PLAIN);
        _targets.assign(n, NONE);
        oneScopePerSubset();
    }
    markQualifiers();
    index();
}

void ReportReader::index()
{
    // A counting sort of the values by scope keeps each scope's ascending.
    _directStart.assign(_scopes.size() + 1, 0);
    for (const int s : _scopeOf)
        if (s != NONE)
            ++_directStart[static_cast<size_t>(s) + 1];
    for (size_t s = 1; s < _directStart.size(); ++s)
        _directStart[s] += _directStart[s - 1];
    _direct.assign(static_cast<size_t>(_directStart.back()), 0);
    std::vector<int> next(_directStart.begin(), _directStart.end() - 1);
    for (size_t i = 0; i < _scopeOf.size(); ++i)
        if (_scopeOf[i] != NONE)
            _direct[static_cast<size_t>(next[static_cast<size_t>(_scopeOf[i])]++)] =
                static_cast<int>(i);
    _qualityIndex.clear();
    for (size_t i = 0; i < _targets.size(); ++i)
        if (_targets[i] != NONE)
            _qualityIndex.emplace_back(_targets[i], static_cast<int>(i));
    std::stable_sort(_qualityIndex.begin(), _qualityIndex.end(),
                     [](const std::pair<int, int>& a, const std::pair<int, int>& b) {
                         return a.first < b.first;
                     });
}

std::pair<const int*, const int*> ReportReader::direct(int scope, int from, int to) const
{
    const int* const b = _direct.data() + _directStart[static_cast<size_t>(scope)];
    const int* const e = _direct.data() + _directStart[static_cast<size_t>(scope) + 1];
    return {std::lower_bound(b, e, from), std::lower_bound(b, e, to)};
}

int ReportReader::newScope(int parent, int begin)
{
    const int r = static_cast<int>(_replications.size());
    _scopes.push_back(Scope{parent, begin, begin, r, r});
    return static_cast<int>(_scopes.size()) - 1;
}

void ReportReader::closeScope(int scope, int end)
{
    Scope& s = _scopes[static_cast<size_t>(scope)];
    s.end = end;
    s.endReplication = static_cast<int>(_replications.size());
}

void ReportReader::oneScopePerSubset()
{
    const int n = _values.length();
    for (int i = 0; i < n;) {
        const int s = _values[i].getSubset();
        const int scope = newScope(NONE, i);
        while (i < n && _values[i].getSubset() == s)
            _scopeOf[static_cast<size_t>(i++)] = scope;
        closeScope(scope, i);
        if (s >= 0 && (static_cast<size_t>(s) >= _subsetScopes.size() ||
                       _subsetScopes[static_cast<size_t>(s)] == NONE)) {
            if (static_cast<size_t>(s) >= _subsetScopes.size())
                _subsetScopes.resize(static_cast<size_t>(s) + 1, NONE);
            _subsetScopes[static_cast<size_t>(s)] = scope;
        }
    }
}

namespace {

// The nested group of each factor descriptor of a group list, in the order
// the descriptor tree lists them (a group's own nested groups right after
// it, before the next group's).
bool numberNested(const SeqOf<int>& list, const SeqOf<SeqOf<int> >& nested, int& counter,
                  std::vector<int>& out, std::vector<std::vector<int> >& nestedOut, int depth)
{
    out.assign(static_cast<size_t>(list.length()), ReportReader::NONE);
    if (depth > DescriptorTree::maxDepth)
        return false;
    for (int p = 0; p < list.length(); ++p) {
        if (!DescriptorTree::isFactorDescriptor(list[p]))
            continue;
        const int k = counter++;
        if (k >= nested.length())
            return false;
        out[static_cast<size_t>(p)] = k;
        if (!numberNested(nested[k], nested, counter, nestedOut[static_cast<size_t>(k)],
                          nestedOut, depth + 1))
            return false;
    }
    return true;
}

} // namespace

bool ReportReader::layOut(const Layout& layout)
{
    const int n = _values.length();
    if (layout.subsets <= 0 || layout.descriptors.length() == 0 || n == 0)
        return false;
    Walk w(layout);
    // Every factor descriptor of the top list stands for an outer group.
    w.topNested.assign(static_cast<size_t>(layout.descriptors.length()), NONE);
    int outer = 0;
    for (int p = 0; p < layout.descriptors.length(); ++p)
        if (DescriptorTree::isFactorDescriptor(layout.descriptors[p]))
            w.topNested[static_cast<size_t>(p)] = outer++;
    if (outer != layout.groups.length())
        return false;
    w.groupNested.resize(static_cast<size_t>(layout.groups.length()));
    w.nestedNested.resize(static_cast<size_t>(layout.nested.length()));
    int counter = 0;
    for (int g = 0; g < layout.groups.length(); ++g)
        if (!numberNested(layout.groups[g], layout.nested, counter,
                          w.groupNested[static_cast<size_t>(g)], w.nestedNested, 1))
            return false;
    if (counter != layout.nested.length())
        return false;

    const int perSubset = layout.compressed ? layout.factors.length() / layout.subsets : 0;
    if (layout.compressed && perSubset * layout.subsets != layout.factors.length())
        return false;
    // The replay takes a step per descriptor met; a group of no value
    // repeated without end is not followed.
    w.stepLimit = 8L * n + 1000000L;
    _subsetScopes.assign(static_cast<size_t>(layout.subsets), NONE);
    for (int s = 0; s < layout.subsets; ++s) {
        w.subset = s;
        if (layout.compressed) {
            w.factor = s * perSubset;
            w.factorsEnd = (s + 1) * perSubset;
        } else {
            w.factorsEnd = layout.factors.length();
        }
        w.definingReferences = false;
        w.associatedFields = 0;
        w.quality = QualityState();
        const int scope = newScope(NONE, w.next);
        _subsetScopes[static_cast<size_t>(s)] = scope;
        if (!replay(w, layout.descriptors, true, w.topNested, scope))
            return false;
        closeScope(scope, w.next);
    }
    return w.next == n && (layout.compressed || w.factor == layout.factors.length());
}

bool ReportReader::replay(Walk& w, const SeqOf<int>& list, bool top,
                          const std::vector<int>& nestedAt, int scope)
{
    for (int p = 0; p < list.length(); ++p) {
        if (++w.steps > w.stepLimit)
            return false;
        const int d = list[p];
        if (d / 100000 == 2) {
            operatorMet(w, d);
            continue;
        }
        if (d / 100000 != 0)
            return false;
        if (DescriptorTree::isFactorDescriptor(d)) {
            const int k = nestedAt[static_cast<size_t>(p)];
            if (k == NONE || w.factor >= w.factorsEnd)
                return false;
            const int factor = w.layout.factors[w.factor++];
            factorMet(w);
            const SeqOf<int>& group = top ? w.layout.groups[k] : w.layout.nested[k];
            const size_t at = static_cast<size_t>(k);
            const std::vector<int>& inner = top ? w.groupNested[at] : w.nestedNested[at];
            // A group of operators only makes no value: its repetitions
            // change the operators in force, in this scope.
            bool values = false;
            for (int g = 0; g < group.length() && !values; ++g)
                values = group[g] / 100000 == 0;
            _replications.push_back(Replication{scope, w.next, factor, &group, {}});
            const size_t r = _replications.size() - 1;
            for (int rep = 0; rep < factor; ++rep) {
                if (++w.steps > w.stepLimit)
                    return false;
                const int child = values ? newScope(scope, w.next) : scope;
                if (!replay(w, group, false, inner, child))
                    return false;
                if (values) {
                    closeScope(child, w.next);
                    _replications[r].repetitions.push_back(child);
                }
            }
            continue;
        }
        // An element: a value, unless it defines a reference value (2 03) or
        // is the significance of an associated field.
        if (w.definingReferences || (d == ASSOCIATED_SIGNIFICANCE && w.associatedFields > 0))
            continue;
        const int i = w.next;
        if (i >= _values.length() || _values[i].getSubset() != w.subset ||
            _values[i].getDescriptor() != d)
            return false;
        _scopeOf[static_cast<size_t>(i)] = scope;
        ++w.next;
        valueMet(w, i);
    }
    return true;
}

void ReportReader::operatorMet(Walk& w, int descriptor)
{
    const int x = descriptor / 1000 % 100;
    const int y = descriptor % 1000;
    QualityState& q = w.quality;
    switch (x) {
    case 3:
        w.definingReferences = y != 0 && y != 255;
        break;
    case 4:
        w.associatedFields += y > 0 ? 1 : w.associatedFields > 0 ? -1 : 0;
        break;
    case 22:
        q.frozen = q.inQuality = true;
        q.readingBitMap = true;
        q.keep = false;
        q.bits.clear();
        q.nextBit = 0;
        break;
    case 35:
        q = QualityState();
        break;
    case 36:
        q.keep = true;
        break;
    case 37:
        if (y == 255) {
            q.kept.clear();
        } else {
            q.bits = q.kept;
            q.readingBitMap = false;
        }
        break;
    default:
        break;
    }
}

void ReportReader::factorMet(Walk& w)
{
    if (!w.quality.frozen)
        w.quality.data.push_back(NONE);
}

void ReportReader::valueMet(Walk& w, int i)
{
    QualityState& q = w.quality;
    if (!q.inQuality) {
        if (!q.frozen)
            q.data.push_back(i);
        return;
    }
    _flags[static_cast<size_t>(i)] = QUALITY;
    const int d = _values[i].getDescriptor();
    if (q.readingBitMap && d == DATA_PRESENT) {
        q.bits.push_back(_values[i].getValue() == 0.0f ? 0 : 1);
        return;
    }
    if (q.readingBitMap) {
        q.readingBitMap = false;
        if (q.keep)
            q.kept = q.bits;
    }
    if (d == GENERATING_CENTRE || d == GENERATING_APPLICATION)
        return;
    // The next bit 0 of the block's bit map names the value this one is for.
    while (q.nextBit < q.bits.size() && q.bits[q.nextBit] != 0)
        ++q.nextBit;
    if (q.nextBit >= q.bits.size())
        return;
    const long at = static_cast<long>(q.data.size()) - static_cast<long>(q.bits.size()) +
                    static_cast<long>(q.nextBit++);
    if (at >= 0 && at < static_cast<long>(q.data.size()))
        _targets[static_cast<size_t>(i)] = q.data[static_cast<size_t>(at)];
}

bool ReportReader::isQualifier(int descriptor)
{
    return descriptor == 8021 || descriptor == 8023 || descriptor == 8024 || descriptor == 8092 ||
           descriptor == 8093;
}

bool ReportReader::makesOtherQuantity(int descriptor, float value)
{
    if (!isQualifier(descriptor) || !ElementForms::given(value))
        return false;
    if (descriptor != 8021)
        return true;
    // Forecasts, ensemble means, the analysis and the first guess.
    const int code = static_cast<int>(value);
    return (code >= 4 && code <= 16) || code == 27;
}

void ReportReader::markQualifiers()
{
    // The qualifiers in force, by element, per subset in value order.
    const int n = _values.length();
    int subset = 0;
    std::vector<int> inForce;
    for (int i = 0; i < n; ++i) {
        const BufrValues& v = _values[i];
        if (i == 0 || v.getSubset() != subset) {
            subset = v.getSubset();
            inForce.clear();
        }
        if (_flags[static_cast<size_t>(i)] == QUALITY)
            continue;
        const int d = v.getDescriptor();
        if (isQualifier(d)) {
            inForce.erase(std::remove(inForce.begin(), inForce.end(), d), inForce.end());
            if (makesOtherQuantity(d, v.getValue()))
                inForce.push_back(d);
            continue;
        }
        if (!inForce.empty())
            _flags[static_cast<size_t>(i)] = QUALIFIED;
    }
}

int ReportReader::subsetScope(int subset) const
{
    return subset >= 0 && static_cast<size_t>(subset) < _subsetScopes.size()
               ? _subsetScopes[static_cast<size_t>(subset)]
               : NONE;
}

std::vector<const ReportReader::Replication*> ReportReader::replicationsIn(int scope) const
{
    std::vector<const Replication*> out;
    if (scope == NONE)
        return out;
    const Scope& s = _scopes[static_cast<size_t>(scope)];
    for (int r = s.firstReplication; r < s.endReplication; ++r)
        if (_replications[static_cast<size_t>(r)].scope == scope)
            out.push_back(&_replications[static_cast<size_t>(r)]);
    return out;
}

std::vector<int> ReportReader::children(int scope) const
{
    std::vector<int> out;
    for (const Replication* r : replicationsIn(scope))
        out.insert(out.end(), r->repetitions.begin(), r->repetitions.end());
    return out;
}

int ReportReader::target(int i) const
{
    return i >= 0 && i < _values.length() ? _targets[static_cast<size_t>(i)] : NONE;
}

std::vector<int> ReportReader::matching(int scope, int descriptor, int from, int to,
                                        bool firstOnly) const
{
    std::vector<int> out;
    if (scope == NONE)
        return out;
    const std::pair<const int*, const int*> values = direct(scope, from, to);
    for (const int* p = values.first; p != values.second && !(firstOnly && !out.empty()); ++p)
        if (plain(*p) && _values[*p].getDescriptor() == descriptor)
            out.push_back(*p);
    return out;
}

int ReportReader::first(int scope, int descriptor, int from, int to) const
{
    const std::vector<int> found = matching(scope, descriptor, from, to, true);
    return found.empty() ? NONE : found.front();
}

int ReportReader::count(int scope, int descriptor, int from, int to) const
{
    return static_cast<int>(matching(scope, descriptor, from, to, false).size());
}

std::vector<int> ReportReader::all(int scope, int descriptor, int from, int to) const
{
    return matching(scope, descriptor, from, to, false);
}

std::vector<int> ReportReader::plainValues(int scope, int from, int to) const
{
    std::vector<int> out;
    if (scope == NONE)
        return out;
    const std::pair<const int*, const int*> values = direct(scope, from, to);
    for (const int* p = values.first; p != values.second; ++p)
        if (plain(*p))
            out.push_back(*p);
    return out;
}

int ReportReader::nearest(int scope, int descriptor, int from, int to) const
{
    for (int s = scope; s != NONE; s = parent(s)) {
        const int i = first(s, descriptor, from, to);
        if (i != NONE)
            return i;
    }
    return NONE;
}

std::vector<int> ReportReader::ownValues(int scope, int from, int to) const
{
    std::vector<int> out;
    std::unordered_set<int> given;
    for (int s = scope; s != NONE; s = parent(s)) {
        const std::pair<const int*, const int*> values = direct(s, from, to);
        std::unordered_set<int> here;
        for (const int* p = values.first; p != values.second; ++p) {
            const int i = *p;
            if (!plain(i))
                continue;
            const int d = _values[i].getDescriptor();
            if (given.count(d) || !here.insert(d).second)
                continue;
            out.push_back(i);
        }
        given.insert(here.begin(), here.end());
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<int> ReportReader::qualityOf(int i, int descriptor) const
{
    std::vector<int> out;
    const auto found = std::equal_range(
        _qualityIndex.begin(), _qualityIndex.end(), std::make_pair(i, 0),
        [](const std::pair<int, int>& a, const std::pair<int, int>& b) {
            return a.first < b.first;
        });
    for (auto q = found.first; q != found.second; ++q)
        if (_values[q->second].getDescriptor() == descriptor)
            out.push_back(q->second);
    return out;
}
