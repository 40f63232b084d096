// The text-dictionary readers of the services layer, each on the same
// input file (found along the information-file search path, includes
// followed): the keyed-line dictionary (StaticTextDict, with a rotating
// buffer of few records so that records are disposed of and read again),
// the record-per-line dictionary server (TextFileDictServer through
// TextFileParser) and the whole-file line buffer (TextBuffer).
#include <string>

#include "FuzzEnvironment.h"
#include "StaticTextDict.h"
#include "TextBuffer.h"
#include "TextFileDictServer.h"
#include "splitFields.h"

namespace {

const char* const harness = "fuzz_text_dict";

// Records are the lines themselves.
class LineDict : public StaticTextDict {
public:
    explicit LineDict(const TextString& fileName) : StaticTextDict(fileName, 4, TextString()) {}
    ~LineDict() override { clearRecords(); }

protected:
    void* parseLine(unsigned long, char* line) override { return new std::string(line); }
    void deleteRecord(void* record) override { delete static_cast<std::string*>(record); }
};

// "key | value" lines; a line without a separator is refused.
class FieldDictServer : public TextFileDictServer<TextString, SeqOf<TextString> > {
protected:
    bool parseLine(TextString& key, SeqOf<TextString>& value) override
    {
        return readNextRecord(key, value,
                              [](const TextString& line, TextString& k, SeqOf<TextString>& v) {
                                  SeqOf<TextString> fields;
                                  splitTextLine(line, '|', fields);
                                  if (fields.length() < 2)
                                      return false;
                                  k = fields[0];
                                  v = fields.extract(1, fields.length() - 1);
                                  return true;
                              });
    }
};

void readKeyedLines(const TextString& name)
{
    LineDict dict(name);
    // Twice round, so that the rotating buffer drops records and reads
    // them back.
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < dict.keyCount(); ++i) {
            const unsigned long key = dict.keyAt(i);
            if (key == 0)
                continue;
            if (!dict.contains(key))
                FuzzEnvironment::fail(harness, "an indexed key is not contained");
            if (const std::string* record = static_cast<std::string*>(dict.lookup(key)))
                (void)record->size();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzEnvironment::instance();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzEnvironment::writeFile(FuzzEnvironment::instance().dataDir() + "/fuzzDict.txt", data,
                               size);
    readKeyedLines("fuzzDict.txt");

    FieldDictServer server;
    delete server.makeDict("fuzzDict");

    TextBuffer buffer("fuzzDict.txt");
    (void)buffer.lines.length();
    return 0;
}
