// The descriptor trees of the messages one decoder has met, by the octets of
// their section-3 descriptors, the tables their section 1 chooses
// (StaticBufrInfo::tablesKey) and their originating centre (a tree's
// reasons for the elements it cannot read name the centre).  Bulletins of
// one kind repeat the same descriptors, so each tree and its written-out
// descriptor lists are built once and serve every later message with the
// same octets read with the same tables; a message of another centre or
// master table version gets a tree of its own.  A change to the process's
// tables (StaticBufrInfo::generation) drops every tree.
//
// The cache is bounded in octets as well as in entries: past maxBytes or
// maxEntries the trees used least recently go, and a tree larger than
// maxBytes serves its own message only.
#ifndef DESCRIPTORTREECACHE_H
#define DESCRIPTORTREECACHE_H

#include "DescriptorTree.h"
#include "SeqOf.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class DescriptorTreeCache {
public:
    struct Entry {
        std::string octets;    // the section-3 descriptors, two octets each
        int tables = 0;        // the tables the tree was built with
        int centre = 0;        // the originating centre of its message
        DescriptorTree tree;
        // The written-out lists (DescriptorTree::flatten) once they were
        // made and kept.
        bool flattened = false;
        SeqOf<int> descriptors;
        SeqOf<SeqOf<int> > groups;
        SeqOf<SeqOf<int> > nested;
        std::size_t bytes = 0;    // what the entry held when last kept
    };

    static const int maxEntries = 32;
    static const std::size_t maxBytes = std::size_t(8) << 20;

    DescriptorTreeCache();

    // The entry of these descriptor octets read with those tables for a
    // message of that centre, made the most recently used; null when there
    // is none (or the tables changed since it was built).
    Entry* find(const unsigned char* octets, std::size_t n, int tables, int centre);
    // A new entry for the octets, tables and centre, its tree not built yet:
    // it serves the message being decoded, and stays for later ones only
    // once kept.
    Entry* add(const unsigned char* octets, std::size_t n, int tables, int centre);
    // The entry of the message being decoded (from find or add), as it is
    // now, stays for later messages when it fits maxBytes; the trees used
    // least recently make room for it.
    void keep(Entry* entry);
    // The message is decoded: an entry that was not kept goes.
    void release();
    // What the kept entries hold, in octets.
    std::size_t bytes() const { return _bytes; }
    int entries() const { return static_cast<int>(_entries.size()); }

private:
    void checkTables();
    static std::size_t measure(const Entry& entry);

    std::vector<std::unique_ptr<Entry> > _entries;    // most recently used first
    std::unique_ptr<Entry> _inUse;                     // not kept
    std::size_t _bytes;
    unsigned _tablesGeneration;
};

#endif
