// Record files read whole into dictionaries, with a record type of the
// test's own: "id | name" lines keyed by id.
#include "LogCapture.h"
#include "TempTree.h"
#include "TextFileDictServer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

struct Station {
    int id = 0;
    TextString name;
};

class StationServer : public TextFileDictServer<int, Station> {
protected:
    bool parseLine(int& key, Station& value) override
    {
        return readNextRecord(key, value, [this](const TextString& line, int& k, Station& v) {
            SeqOf<TextString> fields;
            splitTextLine(line, '|', fields);
            const SeqOf<TextString>& f = fields;
            if (f.length() < 2) {
                QEV_LOG(LogStream::PROBLEM, "StationServer")
                    << "Too few fields at " << _parser.location() << std::endl;
                return false;
            }
            k = v.id = atoi(f[0].c_str());
            v.name = f[1];
            return true;
        });
    }
};

using Stations = std::unique_ptr<Dict<int, Station>>;

} // namespace

TEST(TextFileDictServerTest, ReadsRecordsLaterKeysReplacingEarlierOnes)
{
    TempTree tree;
    LogCapture log;
    std::string more = tree.write("qev_home/data/more.txt", "9 | Nine\n");
    tree.write("qev_home/data/stations.txt",
               "# stations\n1 | One\n2 | Two\nbad line\n1 | Uno\n#include \"" + more + "\"\n");
    StationServer server;
    Stations d(server.makeDict((tree.qevHome() + "/data/stations").c_str()));
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->count(), 3);
    Station s;
    EXPECT_TRUE(d->find(1, nullptr, &s));
    EXPECT_STREQ(s.name.c_str(), "Uno");
    EXPECT_TRUE(d->find(9, nullptr, &s));
    EXPECT_EQ(s.id, 9);
    EXPECT_TRUE(log.contains("Too few fields at line 4 in file "));

    // The server is reusable; a file of comments gives an empty dictionary,
    // a missing file null.
    tree.write("empty.txt", "// nothing\n\n# here\n");
    d.reset(server.makeDict(tree.path("empty").c_str()));
    EXPECT_TRUE(d && d->count() == 0);
    EXPECT_EQ(server.makeDict("radarInfo"), nullptr);
    EXPECT_TRUE(log.contains("PROBLEM: Can't open file radarInfo.txt"));
    // 100,000 bad lines in a row cost no stack.
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += "x\n";
    tree.write("bad.txt", text + "5 | Five\n");
    d.reset(server.makeDict(tree.path("bad").c_str()));
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->count(), 1);
}
