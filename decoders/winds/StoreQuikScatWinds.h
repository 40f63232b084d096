// The storing of scatterometer winds: as StoreHighDensityWinds, with these
// differences.
// - A wind cell is placed by a coarse latitude (0 05 002); its wind is a
//   10 m wind (0 11 011, 0 11 012), or as the older layouts give it, a
//   wind direction and speed (0 11 001, 0 11 002), stored into the same
//   variables.
// - A cell of several wind vector ambiguities, each a wind and its
//   likelihood (0 21 104), stores the one its index of the selected wind
//   vector (0 21 102) names, the first where it gives no index.
// - Each cell's record also receives that cell's own satellite identifier
//   (0 01 007) and orbit number (0 05 040), its report's own; where its
//   report gives none they are absent, with a PROBLEM line.
// - The wind vector cell quality (0 21 109) is written into "rainIndex" as
//   1 when its rain flag is usable and 0 when not (splitRainFlag), in place
//   of the quality word itself.
// - A numeric value without a template variable counts as not stored (a
//   VERBOSE line); a text value with a variable is written as text.
// Lines are logged under the source name "StoreQuikScatWinds".
#ifndef STOREQUIKSCATWINDS_H
#define STOREQUIKSCATWINDS_H

#include "StoreHighDensityWinds.h"

class QuikScatBufrDecoder;

class StoreQuikScatWinds : public StoreHighDensityWinds {
public:
    static Layout quikScatLayout()
    {
        return {"StoreQuikScatWinds", 5002, 6002, 0, 0, 11011, 11012, 11001, 11002, 21104, 21102};
    }

    explicit StoreQuikScatWinds(QuikScatBufrDecoder& decoder);

    bool storeSingleton(int ncid, int record, int index) override;
    // The satellite identifier and orbit number of the cell whose latitude
    // is value index, into the record.
    void storeOrbitAndSatId(int ncid, int record, int index);
    // The rain flags of the quality word at value index, into "rainIndex".
    void storeRainFlags(int ncid, int record, int index);

    // The satellite identifier and orbit number of the cell stored last.
    int satID() const { return _satID; }
    int orbitNo() const { return _orbitNo; }

protected:
    void siteRecordPlaced(int ncid, int record, int valueIndex) override;
    void valueRefused(int index, const LatLonCoord& location) override;

private:
    // The report's own value of an element for the cell whose latitude is
    // value index; false after a PROBLEM line naming what when it has none.
    bool cellValue(int index, int descriptor, const char* what, int& value) const;
    // Writes one of the cell's identifiers into its descriptor's variable.
    void storeIdentifier(int ncid, int record, const char* label, int descriptor, int value);

    QuikScatBufrDecoder& _quikScat;
    int _satID = 0;
    int _orbitNo = 0;
};

#endif
