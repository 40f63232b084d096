// What the compressed sample bulletins share: one subset per record of a
// list (a wind, a wind vector cell), written column by column, each column
// an element with either a field of the records or one value for all of
// them, behind a WMO heading.
#ifndef COMPRESSEDSAMPLE_H
#define COMPRESSEDSAMPLE_H

#include "BufrWriter.h"
#include "SampleBulletin.h"

#include <string>
#include <vector>

template <class T>
struct SampleColumn {
    int descriptor;
    double T::*field;    // null: every record takes value
    double value;
};

// The bulletin of the records, section 1 of data category `category` at the
// hour of the options; false with a reason.
template <class T>
bool encodeCompressed(const std::vector<T>& records, const std::vector<SampleColumn<T>>& columns,
                      int category, const SampleOptions& o, const std::string& heading,
                      const std::string& name, SampleBulletin& out, std::string& error)
{
    if (records.empty()) {
        error = "nothing to encode in " + name;
        return false;
    }
    BufrWriter w(4, o.dataDir + "/bufrTableB");
    std::vector<int> descriptors;
    for (const SampleColumn<T>& c : columns)
        descriptors.push_back(c.descriptor);
    w.category(category).dateTime(o.year, o.month, o.day, o.hour, 0).compressed(true);
    w.subsets(static_cast<int>(records.size())).descriptors(descriptors);
    for (const SampleColumn<T>& c : columns) {
        std::vector<double> values;
        for (const T& r : records)
            values.push_back(c.field ? r.*(c.field) : c.value);
        w.column(c.descriptor, values);
    }
    const BufrWriter::Bytes message = w.build();
    if (!w.ok()) {
        error = "cannot encode " + name + ": " + w.error();
        return false;
    }
    out.name = name;
    out.bytes = BufrWriter::withHeader(heading, message);
    return true;
}

#endif
