// The descriptor trees of the messages one decoder has met, by the octets of
// their section-3 descriptors, the tables their section 1 chooses
// (StaticBufrInfo::tablesKey) and their originating centre (a tree's
// reasons for the elements it cannot read name the centre).  Bulletins of one kind repeat the same
// descriptors, so each tree and its written-out descriptor lists are built
// once and serve every later message with the same octets read with the
// same tables; a message of another centre or master table version gets a
// tree of its own.  A change to the
// process's tables (StaticBufrInfo::generation) drops every tree; past
// maxEntries the tree used least recently goes.
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
        // made, with the number of descriptors they hold together; else the
        // largest limit under which making them failed (-1: not tried).
        bool flattened = false;
        long written = 0;
        long failedLimit = -1;
        SeqOf<int> descriptors;
        SeqOf<SeqOf<int> > groups;
        SeqOf<SeqOf<int> > nested;
    };

    static const int maxEntries = 32;

    DescriptorTreeCache();

    // The entry of these descriptor octets read with those tables for a
    // message of that centre, made the most recently used; null when there
    // is none (or the tables changed since it was built).
    Entry* find(const unsigned char* octets, std::size_t n, int tables, int centre);
    // A new entry for the octets, tables and centre, its tree not built yet.
    // It stays only after keep(); an entry not kept is reused by the next
    // add().
    Entry* add(const unsigned char* octets, std::size_t n, int tables, int centre);
    void keep(Entry* entry);

private:
    void checkTables();

    std::vector<std::unique_ptr<Entry> > _entries;    // most recently used first
    std::unique_ptr<Entry> _pending;
    unsigned _tablesGeneration;
};

#endif
