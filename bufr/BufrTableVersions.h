// The WMO master table versions beside the one the process's tables B and D
// hold (the base version): for every element and sequence whose definition
// in another version differs from the base one, that version's definition,
// read once from $QEV_HOME/data/bufrTableVersions (made by
// scripts/make-bufr-tables; data/README.md gives the format).
//
// A message names its master table version in section 1, and is read with
// that version's definitions:
// - the base version, and a descriptor no line covers in a version of the
//   file's range: the base definition;
// - a version of the file's range that has a definition of its own: that;
// - a version of the file's range that lacks the descriptor: none (the
//   message cannot be read with it);
// - a version newer than the file's range, up to NEWEST_POSSIBLE: the
//   definition of the newest version of the range (later versions only
//   add entries, they never change one), none when that version lacks the
//   descriptor (a message of a version past NEWEST_POSSIBLE is not read
//   at all);
// - a version older than the file's range: the definition of the oldest
//   version of the range, but only when every version of the range that
//   defines the descriptor defines it alike.  Where two of them differ,
//   nobody here knows which definition the message's version has, and it
//   is not read.
// Elements are alike when their units (by kind: CCITT IA5, code table, flag
// table; other units by their text, case aside), scale, reference value
// and width are; sequences when their lists are.  Local descriptors are not
// WMO's and are not asked about here.
#ifndef BUFRTABLEVERSIONS_H
#define BUFRTABLEVERSIONS_H

#include "SeqOf.h"
#include "TextString.h"

#include <string>
#include <unordered_map>
#include <vector>

class BufrTableVersions {
public:
    // The newest master table version a message is read with: well past
    // any WMO can have published while the system's times hold (to 2038;
    // two versions a year after version 39 of 2022 reach about 70).  A
    // later one (255 is "missing") is a damaged octet, not a version.
    static const int NEWEST_POSSIBLE = 80;

    // An element's definition in one version.
    struct Element {
        TextString units;
        int scale;
        int reference;
        int width;
    };

    // How a message of some version reads a descriptor.
    enum Answer {
        BASE,       // with the base definition
        OWN,        // with a definition of its own version
        ABSENT,     // its version lacks the descriptor
        UNKNOWN     // its version is not loaded, and the loaded ones disagree
    };

    BufrTableVersions();

    // Reads the file; false after a PROBLEM line (a missing file, a
    // corrupted line), and then nothing of it stays: every version but the
    // base one is unknown, and the base one too, since the file names it.
    bool load(const TextString& path);

    bool loaded() const { return _base >= 0; }
    // The versions the file covers, and the base version (-1 before a load).
    int first() const { return _first; }
    int last() const { return _last; }
    int base() const { return _base; }

    // An element (F = 0) as a message of master table version `version`
    // reads it, given its base definition (null when the base tables lack
    // it).  OWN sets `own`; UNKNOWN sets `why`, the reason line, and so does
    // ABSENT unless no version defines the descriptor at all.
    Answer element(int descriptor, int version, const Element* baseDefinition,
                   const Element*& own, std::string& why) const;
    // The same for a sequence (F = 3).
    Answer sequence(int descriptor, int version, const SeqOf<int>* baseDefinition,
                    const SeqOf<int>*& own, std::string& why) const;

    // The units text that decides how an element is read and what its
    // numbers mean: "CCITT IA5", "CODE TABLE", "FLAG TABLE", or the units in
    // lower case.
    static std::string unitsKind(const TextString& units);

private:
    // A run of versions with one definition: the index of an element or
    // sequence, or -1 when the versions lack the descriptor.
    struct Range {
        int from;
        int to;
        int definition;
    };
    typedef std::unordered_map<int, std::vector<Range> > Ranges;

    bool corrupted(const TextString& path, const TextString& line);
    bool readLine(const std::vector<std::string>& fields);
    // What the versions the file covers define for a descriptor: its base
    // definition index is -2 (base) or -1 (base lacks it).
    int definitionIn(const std::vector<Range>* ranges, int version, bool baseDefines) const;
    // The answer for a descriptor of the ranges `all`, whose definitions
    // are `definitions`; `same` tells two definitions alike.
    template <class T, class Same>
    Answer answer(const Ranges& all, const std::vector<T>& definitions, int descriptor,
                  int version, const T* base, Same same, const T*& own, std::string& why) const;
    // The same over a descriptor's ranges (null: none), its definitions
    // given as indices (-2 the base one), own set for OWN.
    template <class Same>
    Answer resolve(int descriptor, int version, const std::vector<Range>* ranges,
                   bool baseDefines, Same same, int& own, std::string& why) const;
    void clear();

    int _first;
    int _last;
    int _base;
    Ranges _elementRanges;
    Ranges _sequenceRanges;
    std::vector<Element> _elements;
    std::vector<SeqOf<int> > _sequences;
};

#endif
