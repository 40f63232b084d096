#include "BufrValueExtras.h"

uint32_t BufrValueExtras::add(const TextString& text, bool wide, int subset, int descriptor)
{
    std::vector<Entry>& store = entries();
    std::vector<uint32_t>& free = freeSlots();
    uint32_t handle = 0;
    if (!free.empty()) {
        handle = free.back();
        free.pop_back();
    } else {
        handle = static_cast<uint32_t>(store.size());
        store.emplace_back();
    }
    Entry& e = store[handle];
    e.text = text;
    e.wide = wide;
    e.subset = subset;
    e.descriptor = descriptor;
    e.refs = 1;
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
    freeSlots().push_back(handle);
}

std::size_t BufrValueExtras::inUse()
{
    return entries().size() - 1 - freeSlots().size();
}
