// The data-access dictionary file: a StaticTextDict whose lines of eleven
// "|"-separated fields become DM_DataAccessInfo records, owned by the
// dictionary.
#ifndef DM_DATAACCESSINFODICT_H
#define DM_DATAACCESSINFODICT_H

#include "StaticTextDict.h"

class DM_DataAccessInfoDict : public StaticTextDict {
public:
    DM_DataAccessInfoDict(const TextString& fileName, int bufferSize, const TextString& dictName)
        : StaticTextDict(fileName, bufferSize, dictName)
    {
    }
    ~DM_DataAccessInfoDict() override { clearRecords(); }

protected:
    // A new DM_DataAccessInfo of the line, or null (logged) with fewer than
    // eleven fields.
    void* parseLine(unsigned long key, char* line) override;
    void deleteRecord(void* record) override;
};

#endif
