// BUFR messages that rebuild, with the tests' writer, what fuzzing found
// against the decoder: messages whose few bits of data asked for more work
// or memory than any message can be given.  The bufr tests decode them, and
// the fuzz build writes them as regression seeds.  Header-only.
#ifndef FUZZFINDINGS_H
#define FUZZFINDINGS_H

#include "BufrWriter.h"

#include <vector>

namespace fuzzFindings {

// Compressed data of 65535 subsets: a delayed replication (1 03 000, 0 31
// 002) for each count given, each repetition a 1-bit factor 0 31 000 of 0.
// Every factor is listed once per subset: 65539 factors wrapped the size of
// the list to 131069 (and gigabytes were written past it), 32801 made it
// negative, 8001 took 2 GB.
inline BufrWriter::Bytes factorsPerSubset(const std::vector<unsigned>& counts)
{
    BufrWriter w;
    std::vector<int> descriptors;
    for (size_t g = 0; g < counts.size(); ++g)
        descriptors.insert(descriptors.end(), {103000, 31002, 101000, 31000, 1001});
    w.compressed(true).subsets(65535).descriptors(descriptors);
    for (unsigned count : counts) {
        w.factorColumn(31002, count);
        for (unsigned r = 0; r < count; ++r)
            w.factorColumn(31000, 0);
    }
    return w.build();
}

// Local elements the tables lack, passed over by 2 06 000 in compressed
// data: 6 bits each, and each a column of every one of 65535 subsets
// (65600 x 65535 values wrapped the size of the list).
inline BufrWriter::Bytes unknownColumns()
{
    BufrWriter w;
    w.compressed(true).subsets(65535);
    w.descriptors({102000, 31002, 206000, 63250, 102000, 31002, 206000, 63250});
    for (int g = 0; g < 2; ++g) {
        w.factorColumn(31002, 32800);
        for (int r = 0; r < 32800; ++r)
            w.op(206000).bits(0, 6);
    }
    return w.build();
}

// 2 04 255 applied 65534 x 129 times: associated fields of more bits in
// all than an int holds.
inline BufrWriter::Bytes associatedFields()
{
    BufrWriter w;
    w.descriptors({103000, 31002, 101000, 31002, 204255}).factor(31002, 65534);
    for (int r = 0; r < 65534; ++r)
        w.factor(31002, 129);
    return w.build();
}

// 1 00 255 repeats nothing; nested in 1 01 255, 1 02 255 and 1 03 255 it
// stood for 255^4 repetitions of nothing.
inline BufrWriter::Bytes emptyReplications()
{
    BufrWriter w;
    w.descriptors({103255, 102255, 101255, 100255, 1001}).element(1001, 72);
    return w.build();
}

// A message of no subsets: after a good one it gave the good one's state.
inline BufrWriter::Bytes noSubsets()
{
    BufrWriter w;
    w.subsets(0).descriptors({1001});
    return w.build();
}

} // namespace fuzzFindings

#endif
