// The decoder of GOES satellite soundings, on SatelliteSoundingDecoder (what
// it shares with POES): the store $QEV_DATA/point/GOES/netcdf, product key
// 10005, soundings that start at a 0 05 001 latitude.
//
// Per sounding:
// - the time values lie around the latitude: year two values before it,
//   day of the year just before it, hour, minute and second the second to
//   fourth values after it (the longitude between); the time is rounded to
//   the minute, and a time after the present clock time is taken as the
//   same clock time one day earlier;
// - the level count is the number of its pressure values (0 10 004, or
//   0 07 004 where it gives no 0 10 004), 0 when it has none;
// - temperature and dewpoint values right after a 0 08 003 or a 0 02 054
//   belong to no level; pressures and heights always do;
// - the levels keep the order of the message.
// The decoder waits one hour (36000 tenths of a second) for a message and
// processes its ingest directory once at construction, when its
// configuration was read.
#ifndef GOESBUFRDECODER_H
#define GOESBUFRDECODER_H

#include "SatelliteSoundingDecoder.h"

class GOESBufrDecoder : public SatelliteSoundingDecoder {
public:
    static Record goesRecord();
    static const Settings& goesSettings();

    GOESBufrDecoder();
    // Configures the decoder, then decodes and stores the one named file of
    // the directory (unlinked after, or moved to the bad-file directory)
    // instead of processing the ingest directory.
    GOESBufrDecoder(const TextString& directory, const TextString& fileName);
    ~GOESBufrDecoder() override;

    int getProfileCount(const int& start, const int& subset) override;
    bool observationTime(int valueIndex, AbsTime& time) override;
    bool levelValue(int index, bool report) const override;

    // The saved profiles (for the tests).
    const SeqOf<SeqOf<float> >& pressProfiles() const { return _pressProfiles; }
    const SeqOf<SeqOf<float> >& tempProfiles() const { return _tempProfiles; }
    const SeqOf<SeqOf<float> >& tdProfiles() const { return _tdProfiles; }
    const SeqOf<SeqOf<float> >& zProfiles() const { return _zProfiles; }

protected:
    int profiles(Profile* out) override;

private:
    int _zIndex = 0;
    int _pressIndex = 0;
    int _tempIndex = 0;
    int _tdIndex = 0;
    SeqOf<float> _press;
    SeqOf<float> _temp;
    SeqOf<float> _td;
    SeqOf<float> _z;
    SeqOf<SeqOf<float> > _pressProfiles;
    SeqOf<SeqOf<float> > _tempProfiles;
    SeqOf<SeqOf<float> > _tdProfiles;
    SeqOf<SeqOf<float> > _zProfiles;
};

#endif
