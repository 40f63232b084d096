// The storing of scatterometer winds: as StoreHighDensityWinds, with these
// differences.
// - A wind cell begins at a coarse latitude (0 05 002); its values end at
//   the next satellite identifier (0 01 007), or at the end of its report.
// - Each cell's record also receives that cell's own satellite identifier
//   (0 01 007) and orbit number (0 05 040), the two values right before its
//   time group (eight and seven places before its latitude); where another
//   element, or another report, stands there they are absent, with a PROBLEM
//   line.
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
    static Layout quikScatLayout() { return {"StoreQuikScatWinds", 5002, 6002, 0, 0, 1007}; }

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
    // Value index - back of the cell whose latitude is value index, when it
    // lies in the cell's report and is the element expected; what names it
    // in the PROBLEM line otherwise.
    bool cellValue(int index, int back, int expected, const char* what, int& value) const;
    // Writes one of the cell's identifiers into its descriptor's variable.
    void storeIdentifier(int ncid, int record, const char* label, int descriptor, int value);

    QuikScatBufrDecoder& _quikScat;
    int _satID = 0;
    int _orbitNo = 0;
};

#endif
