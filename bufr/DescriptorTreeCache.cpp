#include "DescriptorTreeCache.h"

#include "StaticBufrInfo.h"

#include <cstring>

const int DescriptorTreeCache::maxEntries;
const std::size_t DescriptorTreeCache::maxBytes;

DescriptorTreeCache::DescriptorTreeCache()
    : _bytes(0), _tablesGeneration(StaticBufrInfo::instance()->generation())
{
}

void DescriptorTreeCache::checkTables()
{
    const unsigned generation = StaticBufrInfo::instance()->generation();
    if (generation != _tablesGeneration) {
        _entries.clear();
        _bytes = 0;
        _tablesGeneration = generation;
    }
}

DescriptorTreeCache::Entry* DescriptorTreeCache::find(const unsigned char* octets, std::size_t n,
                                                      int tables, int centre)
{
    checkTables();
    for (std::size_t i = 0; i < _entries.size(); ++i) {
        const std::string& key = _entries[i]->octets;
        if (_entries[i]->tables != tables || _entries[i]->centre != centre || key.size() != n ||
            std::memcmp(key.data(), octets, n) != 0)
            continue;
        if (i > 0) {
            std::unique_ptr<Entry> used = std::move(_entries[i]);
            _entries.erase(_entries.begin() + static_cast<std::ptrdiff_t>(i));
            _entries.insert(_entries.begin(), std::move(used));
        }
        return _entries.front().get();
    }
    return nullptr;
}

DescriptorTreeCache::Entry* DescriptorTreeCache::add(const unsigned char* octets, std::size_t n,
                                                     int tables, int centre)
{
    checkTables();
    _inUse.reset(new Entry());
    _inUse->octets.assign(reinterpret_cast<const char*>(octets), n);
    _inUse->tables = tables;
    _inUse->centre = centre;
    return _inUse.get();
}

std::size_t DescriptorTreeCache::measure(const Entry& entry)
{
    std::size_t lists = static_cast<std::size_t>(entry.descriptors.capacity());
    for (const SeqOf<SeqOf<int> >* g : {&entry.groups, &entry.nested}) {
        const SeqOf<SeqOf<int> >& groups = *g;
        lists += static_cast<std::size_t>(groups.capacity()) * 2;
        for (int i = 0; i < groups.length(); ++i)
            lists += static_cast<std::size_t>(groups[i].capacity());
    }
    return sizeof(Entry) + entry.octets.capacity() + entry.tree.bytes() + lists * sizeof(int);
}

void DescriptorTreeCache::keep(Entry* entry)
{
    if (!entry)
        return;
    if (entry == _inUse.get()) {
        entry->bytes = measure(*entry);
        if (entry->bytes > maxBytes)
            return;    // released with its message
        _entries.insert(_entries.begin(), std::move(_inUse));
        _bytes += entry->bytes;
    } else if (!_entries.empty() && entry == _entries.front().get()) {
        // Kept before: measured again, since its lists may have been made.
        _bytes -= entry->bytes;
        entry->bytes = measure(*entry);
        if (entry->bytes > maxBytes) {
            _inUse = std::move(_entries.front());
            _entries.erase(_entries.begin());
            return;
        }
        _bytes += entry->bytes;
    } else {
        return;
    }
    // The entry in use stands first and stays.
    while (_entries.size() > 1 &&
           (_bytes > maxBytes || static_cast<int>(_entries.size()) > maxEntries)) {
        _bytes -= _entries.back()->bytes;
        _entries.pop_back();
    }
}

void DescriptorTreeCache::release()
{
    _inUse.reset();
}
