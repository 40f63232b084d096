#include "BufrTestSupport.h"

#include "BufrWriter.h"
#include "StaticBufrInfo.h"

#include <gtest/gtest.h>

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
