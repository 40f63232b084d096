#include "PeerLineCap.h"

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "IPC_Target.h"
#include "LogStream.h"
#include "monotonicClock.h"

namespace {

// The lines of one kind about one peer (or about the other peers, once
// MAX_PEERS entries are kept).
struct Entry {
    int category;
    const char* sourceFile;
    std::string kind;
    IPC_Target peer;
    bool otherPeers;
    int written;
    unsigned long counted;
    int64_t countedSince;  // the first line counted since the last count went out
    int64_t last;          // the last line, written or counted
};

const int64_t quietMillis = int64_t(PeerLineCap::QUIET_SECONDS) * 1000;
const int64_t summaryMillis = int64_t(PeerLineCap::SUMMARY_SECONDS) * 1000;

// Never destroyed: the counts are written from a static destructor.
std::vector<Entry>& entries()
{
    static std::vector<Entry>* table = new std::vector<Entry>;
    return *table;
}

void writeCount(Entry& e)
{
    if (e.counted == 0)
        return;
    // The time the counted lines took, in whole seconds (at least one).
    const int64_t seconds = (e.last - e.countedSince) / 1000 + 1;
    std::ostringstream about;
    if (e.otherPeers)
        about << "other peers";
    else
        about << e.peer;
    QEV_LOG(e.category, e.sourceFile)
        << e.counted << " more line" << (e.counted == 1 ? "" : "s") << " like \"" << e.kind
        << "\" about " << about.str() << " in " << seconds << " second"
        << (seconds == 1 ? "" : "s") << " were not written" << std::endl;
    e.counted = 0;
}

// Writes what is left when the process ends.
struct FinalCounts {
    ~FinalCounts() { PeerLineCap::writeAll(); }
};

bool sameLine(const Entry& e, int category, const char* sourceFile, const char* kind)
{
    return e.category == category && std::strcmp(e.sourceFile, sourceFile) == 0 && e.kind == kind;
}

}  // namespace

bool PeerLineCap::admit(int category, const char* sourceFile, const char* kind,
                        const IPC_Target& peer)
{
    static FinalCounts finalCounts;
    std::vector<Entry>& table = entries();
    const int64_t now = monotonicMillis();
    Entry* entry = nullptr;
    Entry* others = nullptr;
    for (Entry& e : table) {
        if (!sameLine(e, category, sourceFile, kind))
            continue;
        if (e.otherPeers)
            others = &e;
        else if (e.peer == peer)
            entry = &e;
    }
    if (!entry && !others && table.size() >= static_cast<size_t>(MAX_PEERS)) {
        table.push_back(Entry{category, sourceFile, kind, IPC_Target(), true, 0, 0, now, now});
        others = &table.back();
    }
    if (!entry && others) {
        entry = others;
    } else if (!entry) {
        table.push_back(Entry{category, sourceFile, kind, peer, false, 0, 0, now, now});
        entry = &table.back();
    }
    entry->last = now;
    if (entry->written < FIRST_LINES) {
        ++entry->written;
        return true;
    }
    if (entry->counted++ == 0)
        entry->countedSince = now;
    else if (now - entry->countedSince >= summaryMillis)
        writeCount(*entry);
    return false;
}

int64_t PeerLineCap::dueInMillis()
{
    const int64_t now = monotonicMillis();
    int64_t due = -1;
    for (const Entry& e : entries()) {
        if (e.counted == 0)
            continue;
        const int64_t left = e.last + quietMillis - now;
        const int64_t wait = left > 0 ? left : 0;
        if (due < 0 || wait < due)
            due = wait;
    }
    return due;
}

void PeerLineCap::writeDue()
{
    std::vector<Entry>& table = entries();
    if (table.empty())
        return;
    const int64_t now = monotonicMillis();
    for (size_t i = table.size(); i-- > 0;) {
        if (now - table[i].last < quietMillis)
            continue;
        // Quiet: the count goes out, and a new burst starts afresh.
        writeCount(table[i]);
        table.erase(table.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

void PeerLineCap::writeAll()
{
    for (Entry& e : entries())
        writeCount(e);
    entries().clear();
}
