// The per-source-file entry of the log filter table: one category mask per
// sink (terminal, log file, collective file).  A set bit lets that category
// through to that sink.
#ifndef LOGFILTER_H
#define LOGFILTER_H

#include <cstdint>

struct LogFilter {
    // Every category except DEBUG (16) and VERBOSE (32).
    static const uint32_t DEFAULT_MASK = 0xFFFFFFCFu;

    uint32_t mask[3];

    LogFilter() : mask{DEFAULT_MASK, DEFAULT_MASK, DEFAULT_MASK} {}

    // Sets (on) or clears the category bits in the mask of one sink; a sink
    // outside 0..2 changes nothing.
    void change(int sink, unsigned categories, bool on)
    {
        if (sink < 0 || sink > 2)
            return;
        if (on)
            mask[sink] |= categories;
        else
            mask[sink] &= ~categories;
    }

    bool passes(int sink, unsigned category) const { return (mask[sink] & category) != 0; }
};

#endif
