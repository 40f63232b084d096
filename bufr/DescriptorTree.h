// The descriptors of section 3 as a tree, built once per message before any
// data is read: table D sequences hold their elements, a replication holds
// the descriptors it repeats (the X descriptors written after it at its own
// level; for a delayed replication the X after its factor descriptor), and
// elements and operators are the leaves.  The data walker (DescriptorWalker)
// follows the tree for every subset; fixed replications are never written
// out, so a message costs what its data holds.
//
// Every element and operator descriptor has one leaf node, which each place
// it stands in shares, so that a long list of them costs an index each.
// Every distinct element descriptor of the message has one Element entry
// with its coding, taken when the tree is built from the tables the
// message's section 1 chooses (StaticBufrInfo::Origin: its originating
// centre's local entries, its master table version's definitions).  An
// element those tables cannot give is not known; the reason, when there is
// more to say than that table B lacks it, is logged by logReason.
//
// Building fails, after a PROBLEM line, for a sequence missing from table D
// (or not defined for the message's centre or master table version),
// a descriptor whose F is not 0 to 3, a table D sequence that contains
// itself, nesting deeper than maxDepth levels, and a replication whose
// descriptors run past the end of the list it stands in.
#ifndef DESCRIPTORTREE_H
#define DESCRIPTORTREE_H

#include "SeqOf.h"
#include "StaticBufrInfo.h"

#include <string>
#include <unordered_map>
#include <vector>

class DescriptorTree {
public:
    enum Kind { ELEMENT, OPERATOR, SEQUENCE, REPLICATION, DELAYED_REPLICATION };

    struct Node {
        Kind kind;
        int descriptor;    // as written: the element, operator, sequence or 1XXYYY
        int x;             // X of the descriptor
        int y;             // Y of the descriptor (the count of a fixed replication)
        int element;       // ELEMENT: its Element; DELAYED_REPLICATION: the factor's
        int begin;         // the node's children: child(begin) .. child(end - 1)
        int end;
        // A sequence or fixed replication that holds no element, operator or
        // delayed replication at any depth: it stands for nothing in the
        // data, however often it is repeated, so it is passed over whole.
        bool empty;
    };

    // An element descriptor of the message and its table B coding.
    struct Element {
        int descriptor;
        bool known;        // the message's tables give its coding
        bool character;    // CCITT IA5
        bool codeOrFlag;   // code or flag table
        bool class31;      // X = 31: replication factors, significances, indicators
        int scale;
        int reference;
        int width;
        int reason;        // when not known: the reason line's index, or -1
    };

    static const int maxDepth = 64;

    // What the descriptors of one subset written out hold (counted when the
    // tree is built, without writing anything; each count stops growing at
    // a limit far beyond what any message can hold).
    struct WrittenOut {
        long descriptors;    // in all, the replication groups included
        long main;           // outside the delayed replication groups
        long takingData;     // of those, the ones that take at least one bit
                             // of every subset's data: elements of a width,
                             // and the replication factors
        long factors;        // of those, the replication factors
    };
    // The tree's counts.
    const WrittenOut& writtenOut() const { return _writtenOut; }
    // The memory the tree holds, in octets (near enough).
    std::size_t bytes() const;

    DescriptorTree();

    // Builds the tree of the section-3 descriptors of a message of that
    // origin (the loaded tables as they are when none is given); false after
    // a PROBLEM line.  A tree that was there before is dropped first.
    bool build(const SeqOf<int>& descriptors,
               const StaticBufrInfo::Origin& origin = StaticBufrInfo::loadedTables());
    // Logs why an element that is not known cannot be read, when there is
    // more to say than that table B lacks it (another centre's local
    // element, a master table version that lacks or may differ in it).
    void logReason(const Element& e) const;

    int rootBegin() const { return _rootBegin; }
    int rootEnd() const { return _rootEnd; }
    const Node& node(int index) const { return _nodes[index]; }
    int child(int position) const { return _children[position]; }
    const Element& element(int index) const { return _elements[index]; }
    int elementCount() const { return static_cast<int>(_elements.size()); }

    // The descriptors in data order for one subset, sequences replaced by
    // their elements and fixed replications written out; a delayed
    // replication stands as its factor descriptor, and its group goes into
    // groups (one per delayed replication outside any other delayed group,
    // in order) or, within another group, into nested (in order of
    // appearance).  False, the lists untouched and nothing allocated, when
    // more than `limit` descriptors would be written.
    bool flatten(SeqOf<int>& descriptors, SeqOf<SeqOf<int> >& groups,
                 SeqOf<SeqOf<int> >& nested, long limit) const;

    // Whether a descriptor is a delayed replication factor (0 31 000, 0 31 001,
    // 0 31 002) or a delayed repetition factor (0 31 011, 0 31 012).
    static bool isFactorDescriptor(int descriptor);
    // Whether it is a delayed repetition factor: the group's data is there
    // once and stands for every repetition.
    static bool isRepetitionFactor(int descriptor)
    {
        return descriptor == 31011 || descriptor == 31012;
    }

private:
    // Compiles list[0..n) into nodes whose indices go to out.
    bool compileList(const int* list, int n, int depth, std::vector<int>& out);
    // Compiles the descriptor at list[i] (and what it replicates); i moves
    // past what was taken.
    bool compileOne(const int* list, int n, int& i, int depth, std::vector<int>& out);
    // The replication at list[i], fixed or delayed, as a node holding the
    // descriptors it repeats; i moves past them.
    bool expandReplication(const int* list, int n, int& i, int depth, std::vector<int>& out);
    // The node of a table D sequence, built once per tree.
    bool expandSequence(int descriptor, int depth, int& nodeIndex);
    // `elements` becomes the sequence's table D entry as the message's
    // tables define it; false after the PROBLEM lines saying why not.
    bool tableDLookup(int sequenceDescriptor, SeqOf<int>& elements) const;
    int addNode(Kind kind, int descriptor, int element, const std::vector<int>& children);
    // The one leaf node of an element or operator descriptor.
    int leafNode(Kind kind, int descriptor);
    // The written-out counts of every node, children before their parents.
    void countWrittenOut();
    int elementIndex(int descriptor);
    void flattenList(int begin, int end, std::vector<int>& out, int delayedDepth,
                     std::vector<std::vector<int> >& groups,
                     std::vector<std::vector<int> >& nested) const;

    std::vector<Node> _nodes;
    std::vector<int> _children;
    std::vector<Element> _elements;
    std::unordered_map<int, int> _elementIndex;     // descriptor -> Element
    std::unordered_map<int, int> _sequenceNodes;    // sequence -> its node
    std::unordered_map<int, int> _leafNodes;        // element or operator -> its node
    std::vector<int> _open;                         // sequences being compiled
    std::vector<std::string> _reasons;              // of the elements not known
    StaticBufrInfo::Origin _origin;
    int _rootBegin;
    int _rootEnd;
    std::vector<WrittenOut> _nodeCounts;    // by node
    WrittenOut _writtenOut;
};

#endif
