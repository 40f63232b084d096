#include "PointRecordSet.h"

#include <cstring>

namespace {

// Whether a per-record list takes the values of new records: a filled list
// does; an empty one only while the set holds no records and the file has
// the values.
template <class T>
bool takes(const SeqOf<T>& list, int records, bool offered)
{
    return records == 0 ? offered : list.length() > 0;
}

TextString idOf(const PointRecordSet::Source& from, int r)
{
    if (!from.idRows || from.idLength <= 0)
        return TextString();
    const char* row = from.idRows + static_cast<size_t>(r) * from.idLength;
    return TextString(row, static_cast<int>(strnlen(row, static_cast<size_t>(from.idLength))));
}

// The values of the records given (or padding) for each list that takes
// them, in the order given.
struct Values {
    SeqOf<TextString> ids;
    SeqOf<float> lats, lons;
    SeqOf<long> times;
    bool withIds, withPositions, withTimes;

    Values(const PointRecordSet& set, const PointRecordSet::Source& from)
    {
        const int n = set.recordCount();
        withIds = takes(set.ids, n, from.idRows && from.idLength > 0);
        withPositions = takes(set.lats, n, from.lats && from.lons);
        withTimes = takes(set.times, n, from.times != nullptr);
    }

    void add(const PointRecordSet::Source& from, int r)
    {
        if (withIds)
            ids.append(idOf(from, r));
        if (withPositions) {
            lats.append(from.lats && from.lons ? from.lats[r] : 0.0f);
            lons.append(from.lats && from.lons ? from.lons[r] : 0.0f);
        }
        if (withTimes)
            times.append(from.times ? static_cast<long>(from.times[r]) : 0L);
    }
};

template <class T>
void joinFront(SeqOf<T>& list, const SeqOf<T>& front)
{
    if (front.length() > 0)
        list.replace(-1, 0, front);
}

template <class T>
void joinBack(SeqOf<T>& list, const SeqOf<T>& back)
{
    if (back.length() > 0)
        list.replace(list.length() - 1, list.length(), back);
}

} // namespace

int PointRecordSet::recordCount() const
{
    int n = 0;
    for (int i = 0; i < counts.length(); ++i)
        n += counts[i];
    return n;
}

int PointRecordSet::appendSlice(int* handle, int first, int count, const Source& from)
{
    Values v(*this, from);
    for (int r = first; r < first + count; ++r)
        v.add(from, r);
    const int at = from.times && v.withTimes ? times.length() : -1;
    handles.append(handle);
    firsts.append(first);
    counts.append(count);
    joinBack(ids, v.ids);
    joinBack(lats, v.lats);
    joinBack(lons, v.lons);
    joinBack(times, v.times);
    return at;
}

void PointRecordSet::prependRecords(int* handle, const std::vector<int>& records,
                                    const Source& from)
{
    if (records.empty())
        return;
    Values v(*this, from);
    SeqOfPtr<int*> runHandles;
    SeqOf<int> runFirsts, runCounts;
    for (size_t k = 0; k < records.size(); ++k) {
        const int r = records[k];
        v.add(from, r);
        const int n = runFirsts.length();
        if (n > 0 && runFirsts[n - 1] + runCounts[n - 1] == r) {
            ++runCounts[n - 1];
        } else {
            runHandles.append(handle);
            runFirsts.append(r);
            runCounts.append(1);
        }
    }
    const int n = runFirsts.length();
    if (firsts.length() > 0 && handles[0] == handle &&
        firsts[0] == runFirsts[n - 1] + runCounts[n - 1]) {
        firsts[0] = runFirsts[n - 1];
        counts[0] += runCounts[n - 1];
        runHandles.remove(n - 1, n - 1);
        runFirsts.remove(n - 1, n - 1);
        runCounts.remove(n - 1, n - 1);
    }
    if (runHandles.length() > 0)
        handles.replace(-1, 0, runHandles);
    joinFront(firsts, runFirsts);
    joinFront(counts, runCounts);
    joinFront(ids, v.ids);
    joinFront(lats, v.lats);
    joinFront(lons, v.lons);
    joinFront(times, v.times);
}
