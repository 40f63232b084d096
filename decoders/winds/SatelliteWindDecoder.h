// What the decoders of satellite winds share: high-density cloud-drift winds
// (HDWBufrDecoder) and scatterometer winds (QuikScatBufrDecoder).  Both store
// one record per wind, keyed by its position and observation time, into a
// point-data store of their own, and notify each new data time once per
// file with their product key.
//
// This class holds the decoder half: the configuration read by init (the
// store and the "tblBname" template dictionary of the store directory), the
// observation time of each wind, and the notification.  The storing half is
// StoreHighDensityWinds (and StoreQuikScatWinds beside it), owned by the
// derived decoder.
//
// A wind's time is its report's own time group (ReportReader): the first
// plain year of its report, else of the report that encloses it, with month,
// day, hour and minute (and the second, where the group has one) the
// values right after it, each its own element, rounded to the nearest
// minute.  A wind without such a group is left out with a PROBLEM line, so
// that every stored wind carries its own time.
#ifndef SATELLITEWINDDECODER_H
#define SATELLITEWINDDECODER_H

#include "BufrFileDecoder.h"
#include "BulletinLog.h"
#include "DataAccessKey.h"
#include "DataTime.h"
#include "Dict.h"
#include "LatLonCoord.h"
#include "ReportReader.h"
#include "SeqOf.h"
#include "TextString.h"
#include "windKinds.h"

class NetcdfPointData;

class SatelliteWindDecoder : public BufrFileDecoder {
public:
    // What tells the data types apart, beside the flow's record.
    struct WindType {
        const char* decoderSource;    // source name of the decoder's own lines
        const char* dataTypeName;
        const char* patternFile;      // under $QEV_HOME/data/
        const char* storePath;        // below $QEV_DATA
        DataAccessKey productKey;
        // The messages the data type stores (windKinds): another kind sets
        // its bulletin aside.
        MessageKind kind;
    };

    // The flow of both data types: every listed name, the pattern read once
    // per pass, the 0.3 s pause, their stat, store and move texts.
    static Record windRecord(const char* sourceName, const char* ingestPath,
                             const char* badPath, const char* rejectionText,
                             const char* readingTrace);

    SatelliteWindDecoder(const Record& record, const WindType& type);
    ~SatelliteWindDecoder() override;

    int getTimeout() const override { return _timeout; }
    TextString getPatternFileName() const override;
    TextString getDataTypeName() const override { return _dataTypeName; }
    // Nothing in these decoders' flow calls it.
    bool preProcess() override { return false; }
    // dmNotify of the data time set last, with the product key.
    bool sendNotification() override;

    // The data type's names, its store and its template dictionary; true.
    bool init();
    // The observation time (seconds since 1970, whole minutes) of each
    // location of locationIndices(), in order, read from the report of its
    // latitude.  A location whose time group is not in its place, or lies
    // before 1970 or past the last second a time holds, is dropped from both
    // lists with a PROBLEM line; the first of the latter sets the refusal
    // (the reason the bulletin is set aside for) when it is empty.  The year value of
    // each time group used is marked "DTG".
    SeqOf<double> getObservationTimes(const ReportReader& reader, SeqOf<LatLonCoord>& locations,
                                      TextString& refusal);
    // The data time of an observation at t: {t, 0, [t, t], t, 0, 0x300}.
    void setDataTime(int t);
    // What tells the bulletin being stored from others in the store's pass
    // journal: its number of values and a hash of them, whatever the name
    // of its file.
    TextString bulletinIdentity() const;

    // ---- For the storing code ----
    const WindType& windType() const { return _type; }
    const SeqOf<BufrValues>& decodedValues() const { return _decodedValues; }
    int subsetCount() const { return _subsets; }
    int dataCategory() const { return _dataCategory; }
    SeqOf<int>& locationIndices() { return _locationIndices; }
    // What the decoding read of the message besides its values.
    ReportReader::Layout readerLayout() const
    {
        return {_descriptors, _replDescList, _nestedRepList, _repCountList, _subsets, _compressed};
    }
    const Dict<TextString, TextString>& templateDict() const { return _descriptorDict; }
    // The store, asked for again (with its template dictionary) while it
    // could not be had.
    NetcdfPointData* pointData();
    const TextString& storeDirectory() const { return _storeDir; }
    const DataTime& dataTime() const { return _dataTime; }
    const AbsTime& observationTime() const { return _obTime; }
    void setNetcdfFileName(const TextString& name) { _netcdfFileName = name; }
    // The PROBLEM lines of the bulletin being stored.
    BulletinLog& bulletinLog() { return _bulletinLog; }

private:
    WindType _type;
    SeqOf<int> _locationIndices;
    DataTime _dataTime;
    TextString _storeDir;
    Dict<TextString, TextString> _descriptorDict;
    TextString _dataTypeName;
    int _timeout = 36000;
    NetcdfPointData* _pointData = nullptr;    // owned by the point-data layer
    BulletinLog _bulletinLog;
};

#endif
