// What a BufrValues keeps outside its 16 octets: the text of a value that
// has one, and a subset or descriptor beyond what its packed fields hold.
// One process-wide store of reference-counted entries, each named by a
// handle (0 names none): a value's copies share its entry, and the entry
// goes with the last of them.  The store shrinks as the entries at its end
// go, once it holds more than keptEntries, so that the values of a large
// message leave no room behind once they are gone.  Main thread only, as
// decoding is.
#ifndef BUFRVALUEEXTRAS_H
#define BUFRVALUEEXTRAS_H

#include "TextString.h"

#include <cstdint>
#include <vector>

class BufrValueExtras {
public:
    struct Entry {
        TextString text;
        bool wide;        // subset and descriptor are held here
        int subset;
        int descriptor;
        unsigned refs;
    };

    // A new entry of one reference; its handle.
    static uint32_t add(const TextString& text, bool wide, int subset, int descriptor);
    static void retain(uint32_t handle) { ++entries()[handle].refs; }
    static void release(uint32_t handle)
    {
        if (--entries()[handle].refs == 0)
            drop(handle);
    }
    static const Entry& at(uint32_t handle) { return entries()[handle]; }
    // The entry to change: the handle's own when nothing else holds it,
    // else a copy, whose handle replaces the one given.
    static Entry& own(uint32_t& handle);
    // Entries in use, and the octets the store holds (for the tests).
    static std::size_t inUse() { return inUseCount(); }
    static std::size_t bytes();
    // What a value's text of `octets` characters costs in memory: its entry
    // and its string (the representation and its characters, as the heap
    // gives them out: a header of 8 octets, blocks of 16, 32 at the least).
    static long textCost(long octets)
    {
        const long string = (static_cast<long>(sizeof(TextString::StringValue)) + 8 + 15) & ~15L;
        const long characters = (octets + 1 + 8 + 15) & ~15L;
        return static_cast<long>(sizeof(Entry)) + (string < 32 ? 32 : string) +
               (characters < 32 ? 32 : characters);
    }

private:
    // Slot 0 stands for no entry.  The store is never destroyed, so that
    // values of static lifetime may let go of their entries at any time.
    static std::vector<Entry>& entries()
    {
        static std::vector<Entry>* const store = new std::vector<Entry>(1);
        return *store;
    }
    // The handles of free entries within the store; some may have gone with
    // the store's end, or come back in use since: they are passed over.
    static std::vector<uint32_t>& freeSlots()
    {
        static std::vector<uint32_t>* const slots = new std::vector<uint32_t>();
        return *slots;
    }
    static std::size_t& inUseCount()
    {
        static std::size_t count = 0;
        return count;
    }
    static void drop(uint32_t handle);
    // The free entries at the store's end go, and the room of a store much
    // larger than it is now.
    static void trim();
    // The store's room kept however few entries are in use.
    static const std::size_t keptEntries = 65536;
};

#endif
