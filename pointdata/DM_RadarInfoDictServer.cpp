#include "DM_RadarInfoDictServer.h"

#include "LogStream.h"
#include "LogText.h"
#include "splitFields.h"

#include <climits>
#include <cstdlib>

namespace {

const int FIELD_COUNT = 18;

// A decimal integer at the start of the text (0 when there is none),
// clamped to the range of int.
int readInt(const TextString& text)
{
    long v = strtol(text.c_str(), nullptr, 10);
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return static_cast<int>(v);
}

} // namespace

bool DM_RadarInfoDictServer::parseLine(int& key, DM_RadarInfo& record)
{
    return readNextRecord(key, record, [this](const TextString& line, int& k, DM_RadarInfo& r) {
        SeqOf<TextString> f;
        splitTextLine(line, '|', f);
        if (f.length() < FIELD_COUNT) {
            QEV_LOG(LogStream::PROBLEM, "DM_RadarInfo") << "Too few fields at "
                                                        << LogText(_parser.location()) << std::endl;
            return false;
        }
        r._key = readInt(f[0]);
        r._int1 = readInt(f[1]);
        r._int2 = readInt(f[2]);
        r._float3 = strtof(f[3].c_str(), nullptr);
        r._int4 = readInt(f[4]);
        r._text5 = f[5];
        r._text6 = f[6];
        r._text7 = f[7];
        for (int i = 0; i < DM_RadarInfo::FLAG_COUNT; ++i) {
            r._flags8[i] = f[8 + i] == "y";
            r._flags13[i] = f[13 + i] == "y";
        }
        r._text12 = f[12];
        r._keltuid = readInt(f[17]);
        k = r._key;
        return true;
    });
}
