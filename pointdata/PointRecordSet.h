// PointRecordSet: the records a reader collected from the data files of a
// point-data store, as slices of consecutive records (a handle, a first
// record and a count each) with one time, id and position per record.
//
// The per-record lists run parallel: record k of slice i is element
// counts[0] + ... + counts[i-1] + k of each list that is in use.  A list is in
// use when it is filled; one that is empty while the set holds records stays
// empty.  A slice from a file that lacks what a list in use holds gets empty
// texts or zeros there, so the lists never fall out of step.
//
// The set holds handles but counts no clients of its own: the reader gives
// every handle back to its store.  Made by the store's selections (or by the
// caller) and deleted by the caller.
#ifndef POINTRECORDSET_H
#define POINTRECORDSET_H

#include "SeqOf.h"
#include "SeqOfPtr.h"
#include "TextString.h"
#include "TimeRange.h"

#include <vector>

struct PointRecordSet {
    // What a file offers for a run of records: arrays indexed by record
    // number (null when the file has none) and the id row length.
    struct Source {
        const char* idRows = nullptr;
        int idLength = 0;
        const float* lats = nullptr;
        const float* lons = nullptr;
        const int* times = nullptr;
    };

    TimeRange range;
    SeqOfPtr<int*> handles;
    SeqOf<int> firsts;
    SeqOf<int> counts;
    SeqOf<long> times;          // 0 for a record whose time lies outside the range
    SeqOf<TextString> ids;
    SeqOf<float> lats;
    SeqOf<float> lons;

    PointRecordSet() {}
    explicit PointRecordSet(const TimeRange& r) : range(r) {}

    // The records of all slices.
    int recordCount() const;

    // Adds the slice first .. first + count - 1 at the end; each list in use
    // (or, in a set without records, each the file offers) gets its values.
    // Returns the index in times of the slice's first time, -1 when the times
    // list was not extended from the file.
    int appendSlice(int* handle, int first, int count, const Source& from);

    // Puts records (ascending, all before the set's first record) in front,
    // merging each run of consecutive records into one slice and the last run
    // into the first slice when that begins right after it in the same file.
    void prependRecords(int* handle, const std::vector<int>& records, const Source& from);
};

#endif
