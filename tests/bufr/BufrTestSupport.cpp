#include "BufrTestSupport.h"

#include "BufrWriter.h"
#include "StaticBufrInfo.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The first decoder of the process loads the tables from $QEV_HOME/data/:
// point it at the source tree for that one construction.
class ProcessTables : public testing::Environment {
public:
    void SetUp() override
    {
        const char* old = std::getenv("QEV_HOME");
        std::string saved = old ? old : "";
        setenv("QEV_HOME", QEV_SOURCE_DIR, 1);
        TestDecoder first;
        setenv("QEV_HOME", saved.c_str(), 1);
        ASSERT_TRUE(BufrDecoder::tablesLoaded());
    }
};

testing::Environment* const processTables = testing::AddGlobalTestEnvironment(new ProcessTables);

} // namespace

void setCoding(int descriptor, int scale, int reference, int width)
{
    SeqOf<int> info;
    info.append(scale);
    info.append(reference);
    info.append(width);
    StaticBufrInfo::instance()->setTableBInfo(descriptor, info);
}

std::vector<unsigned char> dataSection(const std::vector<unsigned char>& message)
{
    size_t at = BufrWriter::sectionOffset(message, 4);
    if (at == BufrWriter::npos)
        return {};
    size_t length = (size_t(message[at]) << 16) | (size_t(message[at + 1]) << 8) | message[at + 2];
    return std::vector<unsigned char>(message.begin() + at + 4, message.begin() + at + length);
}

std::string TestDecoder::values() const
{
    std::string out;
    const SeqOf<BufrValues>& values = _decodedValues;
    for (int i = 0; i < values.length(); ++i) {
        const BufrValues& v = values[i];
        char buf[64];
        if (v.getValue() == CHARACTER_VALUE)
            std::snprintf(buf, sizeof buf, "%d/%d='%s'", v.getSubset(), v.getDescriptor(),
                          v.getCharValue().c_str());
        else
            std::snprintf(buf, sizeof buf, "%d/%d=%.7g", v.getSubset(), v.getDescriptor(),
                          v.getValue());
        out += (out.empty() ? "" : " ") + std::string(buf);
        if (v.getIndex() != 0)
            out += "#" + std::to_string(v.getIndex());
    }
    return out;
}

std::string TestDecoder::list(const SeqOf<int>& numbers)
{
    std::string out;
    for (int i = 0; i < numbers.length(); ++i)
        out += (i ? " " : "") + std::to_string(numbers[i]);
    return out;
}
