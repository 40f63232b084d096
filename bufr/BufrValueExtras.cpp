#include "BufrValueExtras.h"

#include <algorithm>
#include <functional>

const std::size_t BufrValueExtras::keptEntries;

uint32_t BufrValueExtras::add(const TextString& text, bool wide, int subset, int descriptor)
{
    std::vector<Entry>& store = entries();
    std::vector<uint32_t>& free = freeSlots();
    uint32_t handle = 0;
    while (handle == 0 && !free.empty()) {
        const uint32_t slot = free.back();
        free.pop_back();
        if (slot < store.size() && store[slot].refs == 0)
            handle = slot;
    }
    if (handle == 0) {
        handle = static_cast<uint32_t>(store.size());
        store.emplace_back();
    }
    Entry& e = store[handle];
    e.text = text;
    e.wide = wide;
    e.subset = subset;
    e.descriptor = descriptor;
    e.refs = 1;
    ++inUseCount();
    return handle;
}

BufrValueExtras::Entry& BufrValueExtras::own(uint32_t& handle)
{
    if (entries()[handle].refs > 1) {
        const Entry copy = entries()[handle];
        release(handle);
        handle = add(copy.text, copy.wide, copy.subset, copy.descriptor);
    }
    return entries()[handle];
}

void BufrValueExtras::drop(uint32_t handle)
{
    entries()[handle].text = TextString();
    --inUseCount();
    if (handle + 1 == entries().size() && handle >= keptEntries)
        trim();
    else
        freeSlots().push_back(handle);
}

void BufrValueExtras::trim()
{
    std::vector<Entry>& store = entries();
    std::vector<uint32_t>& free = freeSlots();
    while (store.size() > 1 && store.back().refs == 0)
        store.pop_back();
    // Free handles past the end, in use again or listed twice go once the
    // list is longer than the store; the lowest are taken first, so that
    // the store's end stays free.
    if (free.size() > store.size()) {
        std::sort(free.begin(), free.end(), std::greater<uint32_t>());
        free.erase(std::unique(free.begin(), free.end()), free.end());
        free.erase(std::remove_if(free.begin(), free.end(),
                                  [&store](uint32_t slot) {
                                      return slot >= store.size() || store[slot].refs != 0;
                                  }),
                   free.end());
    }
    if (store.capacity() > std::max(2 * store.size(), keptEntries))
        std::vector<Entry>(store.begin(), store.end()).swap(store);
    if (free.capacity() > std::max(2 * free.size(), keptEntries))
        std::vector<uint32_t>(free.begin(), free.end()).swap(free);
}

std::size_t BufrValueExtras::bytes()
{
    return entries().capacity() * sizeof(Entry) + freeSlots().capacity() * sizeof(uint32_t);
}

