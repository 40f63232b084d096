// The reader of the radar information dictionary: each line of at least 18
// "|"-separated fields is one DM_RadarInfo keyed by its field 0; shorter
// lines are reported with their location and skipped.
#ifndef DM_RADARINFODICTSERVER_H
#define DM_RADARINFODICTSERVER_H

#include "DM_RadarInfo.h"
#include "TextFileDictServer.h"

class DM_RadarInfoDictServer : public TextFileDictServer<int, DM_RadarInfo> {
public:
    DM_RadarInfoDictServer() {}
    ~DM_RadarInfoDictServer() override {}

    // The next record of the file; false when no line is left.
    bool parseLine(int& key, DM_RadarInfo& record) override;
};

#endif
