#include "AcarsBufrDecoder.h"

#include "LogStream.h"
#include "LogText.h"
#include "NetcdfPointData.h"

#include <cstdlib>

#define ACARS_LOG(category) QEV_LOG(LogStream::category, "AcarsBufrDecoder")

BufrFileDecoder::Record AcarsBufrDecoder::acarsRecord()
{
    Record r;
    r.sourceName = "AcarsBufrDecoder";
    r.ingestPath = "/ispan/bufr/acars";
    r.badPath = "/ispan/badAcarsBufr";
    // A basic expression: the bracket holds the characters 1, | and 2.
    r.listingPattern = "IUA.0[1|2]";
    r.statFailureText = " stat() failure on file ";
    r.storedText = "Writing record to netcdf file: ";
    r.failedWriteReason = "Unable to write netcdf data.";
    r.patternFetch = PATTERN_PER_FILE;
    return r;
}

namespace {

// The ACARS writes log nothing of their own: the storing code says when a
// text is not stored, a bounded number of times per bulletin.
const RecordWriter::Rules ACARS_WRITES = {
    "AcarsBufrDecoder",
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    false,
    true,
};

} // namespace

AcarsBufrDecoder::AcarsBufrDecoder() : BufrFileDecoder(acarsRecord()), _writer(ACARS_WRITES)
{
    _storeDir = TextString(std::getenv("QEV_DATA")) + "/point/acars" + "/netcdf";
    _store = NetcdfPointData::getNetcdfPointData(_storeDir, true, false);
    _templateDict = readTemplateDict(_storeDir + "/template", "tblBname");
    _timeout = 36000;
    _dataTypeName = "Acars";
}

AcarsBufrDecoder::~AcarsBufrDecoder() {}

TextString AcarsBufrDecoder::getPatternFileName() const
{
    static const TextString name("acarsBufrPattern.txt");
    return name;
}

void AcarsBufrDecoder::processBufrDirectory()
{
    // A store that could not be had is asked for again, its template with it.
    if (NetcdfPointData::fetchAgain(_store, _storeDir))
        _templateDict = readTemplateDict(_storeDir + "/template", "tblBname");
    if (_templateDict.count() == 0) {
        ACARS_LOG(PROBLEM) << "Unable to read template file" << std::endl;
        return;
    }
    BufrFileDecoder::processBufrDirectory();
}

bool AcarsBufrDecoder::checkFileName(const TextString& name)
{
    for (int i = 0; i < _prefixSet.count(); ++i) {
        const TextString ident = _prefixSet[i];
        ACARS_LOG(VERBOSE) << "ACARS ident string = " << ident << std::endl;
        int at = 0;
        if (name.indexOfString(ident, at))
            return true;
    }
    ACARS_LOG(PROBLEM) << "Not a valid ACARS BUFR file name - " << LogText(name) << std::endl;
    return false;
}
