// The decoder of POES satellite soundings, on SatelliteSoundingDecoder (what
// it shares with GOES): the store $QEV_DATA/point/POES/netcdf, product key
// 10006, soundings that start at a 0 05 002 latitude.
//
// Per sounding:
// - the time values are the six values from the tenth before the latitude
//   (year, month, day, hour, minute, second: 0 04 006, or 0 04 007 to the
//   microsecond), rounded to the minute;
// - the level count (getProfileCount) is the number of its pressure values
//   (0 07 004, or 0 10 004 where it gives no 0 07 004 at its levels) that
//   are level values: the surface pressure, beside a 0 08 003, is none; -1
//   when it has no pressure value;
// - pressure and temperature values next to a 0 08 003 (vertical
//   significance) belong to no level; mixing ratios always do;
// - the levels are ordered by descending pressure, missing (1e37) slots
//   first, equal pressures in the bulletin's order.
// The decoder waits two hours (72000 tenths of a second) for a message and
// processes its ingest directory once at construction, when its
// configuration was read.
#ifndef POESBUFRDECODER_H
#define POESBUFRDECODER_H

#include "SatelliteSoundingDecoder.h"

class POESBufrDecoder : public SatelliteSoundingDecoder {
public:
    static Record poesRecord();
    static const Settings& poesSettings();

    POESBufrDecoder();
    // Configures the decoder, then decodes and stores the one named file of
    // the directory (unlinked after, or moved to the bad-file directory)
    // instead of processing the ingest directory.
    POESBufrDecoder(const TextString& directory, const TextString& fileName);
    ~POESBufrDecoder() override;

    int getProfileCount(const int& start, const int& subset) override;
    bool observationTime(int valueIndex, AbsTime& time) override;
    bool levelValue(int index, bool report) const override;
    // Highest pressure first; a missing (1e37) pressure counts as highest;
    // equal pressures keep their order.
    void sortLevels();

    // The saved profiles (for the tests).
    const SeqOf<SeqOf<float> >& pressProfiles() const { return _pressProfiles; }
    const SeqOf<SeqOf<float> >& tempProfiles() const { return _tempProfiles; }
    const SeqOf<SeqOf<float> >& wProfiles() const { return _wProfiles; }

protected:
    int profiles(Profile* out) override;
    void orderLevels() override { sortLevels(); }

private:
    int _pressIndex = 0;
    int _tempIndex = 0;
    int _wIndex = 0;
    SeqOf<float> _press;
    SeqOf<float> _temp;
    SeqOf<float> _w;
    SeqOf<SeqOf<float> > _pressProfiles;
    SeqOf<SeqOf<float> > _tempProfiles;
    SeqOf<SeqOf<float> > _wProfiles;
};

#endif
