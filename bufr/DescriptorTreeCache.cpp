#include "DescriptorTreeCache.h"

#include "StaticBufrInfo.h"

#include <cstring>

const int DescriptorTreeCache::maxEntries;

DescriptorTreeCache::DescriptorTreeCache()
    : _tablesGeneration(StaticBufrInfo::instance()->generation())
{
}

void DescriptorTreeCache::checkTables()
{
    const unsigned generation = StaticBufrInfo::instance()->generation();
    if (generation != _tablesGeneration) {
        _entries.clear();
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
    _pending.reset(new Entry());
    _pending->octets.assign(reinterpret_cast<const char*>(octets), n);
    _pending->tables = tables;
    _pending->centre = centre;
    return _pending.get();
}

void DescriptorTreeCache::keep(Entry* entry)
{
    if (!entry || entry != _pending.get())
        return;
    if (static_cast<int>(_entries.size()) >= maxEntries)
        _entries.pop_back();
    _entries.insert(_entries.begin(), std::move(_pending));
}
