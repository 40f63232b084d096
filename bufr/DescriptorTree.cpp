#include "DescriptorTree.h"

#include "BufrDecoder.h"
#include "LogStream.h"

#include <algorithm>
#include <climits>

DescriptorTree::DescriptorTree()
    : _origin(StaticBufrInfo::loadedTables()), _rootBegin(0), _rootEnd(0),
      _writtenOut{0, 0, 0, 0}
{
}

bool DescriptorTree::isFactorDescriptor(int descriptor)
{
    return descriptor == 31000 || descriptor == 31001 || descriptor == 31002 ||
           isRepetitionFactor(descriptor);
}

bool DescriptorTree::build(const SeqOf<int>& descriptors, const StaticBufrInfo::Origin& origin)
{
    _nodes.clear();
    _children.clear();
    _elements.clear();
    _elementIndex.clear();
    _sequenceNodes.clear();
    _leafNodes.clear();
    _open.clear();
    _reasons.clear();
    _nodeCounts.clear();
    _writtenOut = WrittenOut{0, 0, 0, 0};
    _origin = origin;
    _rootBegin = _rootEnd = 0;

    std::vector<int> root;
    if (!compileList(descriptors.elements(), descriptors.length(), 0, root))
        return false;
    _rootBegin = static_cast<int>(_children.size());
    _children.insert(_children.end(), root.begin(), root.end());
    _rootEnd = static_cast<int>(_children.size());
    countWrittenOut();
    return true;
}

bool DescriptorTree::compileList(const int* list, int n, int depth, std::vector<int>& out)
{
    if (depth > maxDepth) {
        QEV_LOG(LogStream::PROBLEM, "DescriptorTree")
            << "Descriptors nested more than " << maxDepth << " levels deep" << std::endl;
        return false;
    }
    for (int i = 0; i < n;) {
        if (!compileOne(list, n, i, depth, out))
            return false;
    }
    return true;
}

bool DescriptorTree::compileOne(const int* list, int n, int& i, int depth, std::vector<int>& out)
{
    const int d = list[i];
    int x = 0;
    int y = 0;
    const int f = d < 0 ? -1 : BufrDecoder::splitDescriptor(d, x, y);
    switch (f) {
    case 0:
        out.push_back(leafNode(ELEMENT, d));
        ++i;
        return true;
    case 2:
        out.push_back(leafNode(OPERATOR, d));
        ++i;
        return true;
    case 3: {
        int index = 0;
        if (!expandSequence(d, depth + 1, index))
            return false;
        out.push_back(index);
        ++i;
        return true;
    }
    case 1:
        return expandReplication(list, n, i, depth, out);
    default:
        QEV_LOG(LogStream::PROBLEM, "DescriptorTree") << "Invalid descriptor: " << d << std::endl;
        return false;
    }
}

bool DescriptorTree::expandReplication(const int* list, int n, int& i, int depth,
                                       std::vector<int>& out)
{
    // The X descriptors that follow (after the factor of a delayed one) at
    // this level, each counting once whatever it stands for.
    const int d = list[i];
    int x = 0;
    int y = 0;
    BufrDecoder::splitDescriptor(d, x, y);
    const bool delayed = y == 0;
    int first = i + 1;
    int factor = -1;
    if (delayed) {
        if (first >= n || !isFactorDescriptor(list[first])) {
            QEV_LOG(LogStream::PROBLEM, "DescriptorTree")
                << "Delayed replication " << d << " is not followed by a replication factor"
                << std::endl;
            return false;
        }
        factor = elementIndex(list[first]);
        ++first;
    }
    if (first + x > n) {
        QEV_LOG(LogStream::PROBLEM, "DescriptorTree")
            << "Replication " << d << " needs " << x << " descriptors, only " << (n - first)
            << " follow it" << std::endl;
        return false;
    }
    std::vector<int> group;
    if (!compileList(list + first, x, depth + 1, group))
        return false;
    out.push_back(addNode(delayed ? DELAYED_REPLICATION : REPLICATION, d, factor, group));
    i = first + x;
    return true;
}

bool DescriptorTree::expandSequence(int descriptor, int depth, int& nodeIndex)
{
    std::unordered_map<int, int>::const_iterator done = _sequenceNodes.find(descriptor);
    if (done != _sequenceNodes.end()) {
        nodeIndex = done->second;
        return true;
    }
    if (std::find(_open.begin(), _open.end(), descriptor) != _open.end()) {
        QEV_LOG(LogStream::PROBLEM, "DescriptorTree")
            << "Sequence " << descriptor << " contains itself in table D" << std::endl;
        return false;
    }
    SeqOf<int> elements;
    if (!tableDLookup(descriptor, elements))
        return false;
    _open.push_back(descriptor);
    std::vector<int> members;
    const SeqOf<int>& list = elements;
    bool ok = compileList(list.elements(), list.length(), depth, members);
    _open.pop_back();
    if (!ok)
        return false;
    nodeIndex = addNode(SEQUENCE, descriptor, -1, members);
    _sequenceNodes[descriptor] = nodeIndex;
    return true;
}

bool DescriptorTree::tableDLookup(int sequenceDescriptor, SeqOf<int>& elements) const
{
    std::string why;
    const StaticBufrInfo::Lookup found =
        StaticBufrInfo::instance()->sequenceFor(sequenceDescriptor, _origin, elements, why);
    if (found == StaticBufrInfo::DEFINED)
        return true;
    if (!BufrDecoder::tablesLoaded())
        QEV_LOG(LogStream::PROBLEM, "DescriptorTree") << "Unable to re-initialize Tables."
                                                      << std::endl;
    else if (found == StaticBufrInfo::NOT_DEFINED)
        QEV_LOG(LogStream::PROBLEM, "DescriptorTree")
            << "Descriptor " << sequenceDescriptor << " does not exist in table D." << std::endl;
    if (!why.empty())
        QEV_LOG(LogStream::PROBLEM, "DescriptorTree") << why << std::endl;
    return false;
}

int DescriptorTree::addNode(Kind kind, int descriptor, int element,
                            const std::vector<int>& children)
{
    Node n;
    n.kind = kind;
    BufrDecoder::splitDescriptor(descriptor, n.x, n.y);
    n.descriptor = descriptor;
    n.element = element;
    n.begin = static_cast<int>(_children.size());
    _children.insert(_children.end(), children.begin(), children.end());
    n.end = static_cast<int>(_children.size());
    n.empty = kind == SEQUENCE || kind == REPLICATION;
    for (int c : children)
        n.empty = n.empty && _nodes[static_cast<std::size_t>(c)].empty;
    _nodes.push_back(n);
    return static_cast<int>(_nodes.size()) - 1;
}

int DescriptorTree::leafNode(Kind kind, int descriptor)
{
    std::unordered_map<int, int>::const_iterator found = _leafNodes.find(descriptor);
    if (found != _leafNodes.end())
        return found->second;
    const int index =
        addNode(kind, descriptor, kind == ELEMENT ? elementIndex(descriptor) : -1, {});
    _leafNodes[descriptor] = index;
    return index;
}

namespace {

// Counts that stop growing past a limit no message reaches.
const long countLimit = LONG_MAX / 4;

long plus(long a, long b)
{
    return std::min(a + b, countLimit);
}

long times(long a, long n)
{
    long product = 0;
    return __builtin_mul_overflow(a, n, &product) ? countLimit : std::min(product, countLimit);
}

} // namespace

void DescriptorTree::countWrittenOut()
{
    // What the children from begin to end hold together.
    auto sum = [this](int begin, int end) {
        WrittenOut all{0, 0, 0, 0};
        for (int c = begin; c < end; ++c) {
            const WrittenOut& child = _nodeCounts[static_cast<std::size_t>(_children[c])];
            all.descriptors = plus(all.descriptors, child.descriptors);
            all.main = plus(all.main, child.main);
            all.takingData = plus(all.takingData, child.takingData);
            all.factors = plus(all.factors, child.factors);
        }
        return all;
    };
    // Children come before their parents among the nodes.
    _nodeCounts.assign(_nodes.size(), WrittenOut{0, 0, 0, 0});
    for (std::size_t i = 0; i < _nodes.size(); ++i) {
        const Node& n = _nodes[i];
        WrittenOut& w = _nodeCounts[i];
        if (n.kind == ELEMENT || n.kind == OPERATOR) {
            const bool data = n.kind == ELEMENT && _elements[n.element].known &&
                              _elements[n.element].width > 0;
            w = WrittenOut{1, 1, data ? 1 : 0, 0};
            continue;
        }
        const WrittenOut inside = sum(n.begin, n.end);
        if (n.kind == SEQUENCE) {
            w = inside;
        } else if (n.kind == REPLICATION) {
            const long y = n.empty ? 0 : n.y;
            w = WrittenOut{times(inside.descriptors, y), times(inside.main, y),
                           times(inside.takingData, y), times(inside.factors, y)};
        } else {
            // The factor in the list, the group once in a list of its own;
            // the group may be repeated no time, so it takes no data here.
            const Element& factor = _elements[n.element];
            const long data = factor.known && factor.width > 0 ? 1 : 0;
            w = WrittenOut{plus(inside.descriptors, 1), 1, data, data};
        }
    }
    _writtenOut = sum(_rootBegin, _rootEnd);
}

std::size_t DescriptorTree::bytes() const
{
    // A hash map's entry: the pair, the node's link and its bucket.
    const std::size_t mapEntry = 2 * sizeof(int) + 2 * sizeof(void*);
    std::size_t reasons = 0;
    for (const std::string& r : _reasons)
        reasons += sizeof(std::string) + r.capacity();
    return sizeof(*this) + _nodes.capacity() * sizeof(Node) +
           _children.capacity() * sizeof(int) + _elements.capacity() * sizeof(Element) +
           _nodeCounts.capacity() * sizeof(WrittenOut) +
           (_elementIndex.size() + _sequenceNodes.size() + _leafNodes.size()) * mapEntry +
           reasons;
}

int DescriptorTree::elementIndex(int descriptor)
{
    std::unordered_map<int, int>::const_iterator found = _elementIndex.find(descriptor);
    if (found != _elementIndex.end())
        return found->second;

    Element e;
    e.descriptor = descriptor;
    e.class31 = (descriptor / 1000) % 100 == 31;
    StaticBufrInfo::ElementCoding coding{0, 0, 0, false, false};
    std::string why;
    e.known = StaticBufrInfo::instance()->elementFor(descriptor, _origin, coding, why) ==
              StaticBufrInfo::DEFINED;
    e.scale = coding.scale;
    e.reference = coding.reference;
    e.width = coding.width;
    e.character = e.known && coding.character;
    e.codeOrFlag = e.known && coding.codeOrFlag;
    e.reason = -1;
    if (!why.empty()) {
        e.reason = static_cast<int>(_reasons.size());
        _reasons.push_back(why);
    }
    _elements.push_back(e);
    int index = static_cast<int>(_elements.size()) - 1;
    _elementIndex[descriptor] = index;
    return index;
}

void DescriptorTree::logReason(const Element& e) const
{
    if (e.reason >= 0 && e.reason < static_cast<int>(_reasons.size()))
        QEV_LOG(LogStream::PROBLEM, "DescriptorTree") << _reasons[e.reason] << std::endl;
}

namespace {

SeqOf<int> sequenceOf(const std::vector<int>& list)
{
    return SeqOf<int>(list.data(), static_cast<int>(list.size()));
}

// The lists are appended, never written through an index, so that the
// sequences stay shareable: a decoder's copies of them cost no copying.
void appendAll(const std::vector<std::vector<int> >& lists, SeqOf<SeqOf<int> >& out)
{
    for (const std::vector<int>& list : lists)
        out.append(sequenceOf(list));
}

} // namespace

bool DescriptorTree::flatten(SeqOf<int>& descriptors, SeqOf<SeqOf<int> >& groups,
                             SeqOf<SeqOf<int> >& nested, long limit) const
{
    if (_writtenOut.descriptors > limit)
        return false;
    std::vector<int> out;
    out.reserve(static_cast<std::size_t>(_writtenOut.main));
    std::vector<std::vector<int> > outerGroups, innerGroups;
    flattenList(_rootBegin, _rootEnd, out, 0, outerGroups, innerGroups);
    descriptors = sequenceOf(out);
    appendAll(outerGroups, groups);
    appendAll(innerGroups, nested);
    return true;
}

void DescriptorTree::flattenList(int begin, int end, std::vector<int>& out, int delayedDepth,
                                 std::vector<std::vector<int> >& groups,
                                 std::vector<std::vector<int> >& nested) const
{
    for (int c = begin; c < end; ++c) {
        const Node& n = _nodes[_children[c]];
        switch (n.kind) {
        case ELEMENT:
        case OPERATOR:
            out.push_back(n.descriptor);
            break;
        case SEQUENCE:
            flattenList(n.begin, n.end, out, delayedDepth, groups, nested);
            break;
        case REPLICATION:
            for (int r = 0; !n.empty && r < n.y; ++r)
                flattenList(n.begin, n.end, out, delayedDepth, groups, nested);
            break;
        case DELAYED_REPLICATION: {
            out.push_back(_elements[n.element].descriptor);
            // The group's place is taken before its inner groups are met, so
            // the groups stand in the order of their factors.
            std::vector<std::vector<int> >& list = delayedDepth == 0 ? groups : nested;
            const std::size_t slot = list.size();
            list.emplace_back();
            std::vector<int> group;
            long size = 0;
            for (int g = n.begin; g < n.end; ++g)
                size += _nodeCounts[static_cast<std::size_t>(_children[g])].main;
            group.reserve(static_cast<std::size_t>(size));
            flattenList(n.begin, n.end, group, delayedDepth + 1, groups, nested);
            list[slot].swap(group);
            break;
        }
        }
    }
}
