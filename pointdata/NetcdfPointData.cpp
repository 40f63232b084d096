// The store's construction, the two factories and their caches, the
// ".override" files, destruction and the small accessors.
#include "NetcdfPointData.h"

#include "DM_DataAccessInfo.h"
#include "DiskCommit.h"
#include "InfoFileServer.h"
#include "LogStream.h"
#include "LogText.h"
#include "NetcdfIo.h"
#include "PointFileStructure.h"
#include "PointNetcdfFileInfo.h"
#include "TextBuffer.h"
#include "dmFileTimes.h"
#include "splitFields.h"

#include "PassJournal.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#define PD_LOG(category) QEV_LOG(LogStream::category, "NetcdfPointData")

PointNetcdfFileInfo* NetcdfPointData::newestClientlessObject = nullptr;
PointNetcdfFileInfo* NetcdfPointData::oldestClientlessObject = nullptr;
int NetcdfPointData::clientlessCount = 0;
int NetcdfPointData::nClientlessHandles = 0;
PointNetcdfFileInfo* NetcdfPointData::clientlessCursor = nullptr;
int NetcdfPointData::fileOpenCount = 0;
// The open files a listing expects before any store (each store adds two).
static const int EXPECTED_OPEN_FILES = 8;
int NetcdfPointData::expectedOpenFiles = EXPECTED_OPEN_FILES;
int NetcdfPointData::NC_SYNC_WORKS_FOR_WRITING = 1;
int NetcdfPointData::heldStores = 0;
unsigned NetcdfPointData::refusedForJournal = 0;
unsigned NetcdfPointData::journalsRecovered = 0;

namespace {

// The store caches by path: made on first use and never destroyed, so that
// a store is still found by code that runs in static destructors.
Dict<TextString, NetcdfPointData*>& writableStores()
{
    static Dict<TextString, NetcdfPointData*>* stores = new Dict<TextString, NetcdfPointData*>();
    return *stores;
}

Dict<TextString, NetcdfPointData*>& readOnlyStores()
{
    static Dict<TextString, NetcdfPointData*>* stores = new Dict<TextString, NetcdfPointData*>();
    return *stores;
}

} // namespace

NetcdfPointData* NetcdfPointData::getNetcdfPointData(const TextString& path, bool writable,
                                                     bool staticFile)
{
    PD_LOG(VERBOSE) << "getting NetcdfPointData " << LogText(path) << std::endl;
    Dict<TextString, NetcdfPointData*>& cache = writable ? writableStores() : readOnlyStores();
    NetcdfPointData* store = nullptr;
    if (cache.find(path, nullptr, &store))
        return store;
    store = new NetcdfPointData(path, writable, staticFile);
    if (!store->_templateStructure) {
        // Not remembered: the next fetch tries again, so that a directory
        // made later, or one another process held locked, is had then.
        delete store;
        return nullptr;
    }
    expectedOpenFiles += 2;
    cache.insert(path, store);
    return store;
}

void NetcdfPointData::retryJournals()
{
    if (heldStores <= 0)
        return;
    Dict<TextString, NetcdfPointData*>& cache = writableStores();
    for (int i = 0; i < cache.count(); ++i) {
        NetcdfPointData* store = cache.value(i);
        if (store && !store->_journalFailure.empty())
            store->reopenJournal();
    }
}

unsigned NetcdfPointData::journalRefusals() { return refusedForJournal; }

unsigned NetcdfPointData::journalRecoveries() { return journalsRecovered; }

bool NetcdfPointData::fetchAgain(NetcdfPointData*& store, const TextString& path)
{
    if (store)
        return false;
    store = getNetcdfPointData(path, true, false);
    return store != nullptr;
}

NetcdfPointData* NetcdfPointData::getNetcdfPointDataForKey(DataAccessKey key, bool writable)
{
    PD_LOG(VERBOSE) << "getting NetcdfPointData " << key << std::endl;
    DM_DataAccessInfo info(key);
    if (info.key() == 0) {
        PD_LOG(PROBLEM) << "Error in DM_DataAccessInfo constructor" << std::endl;
        return nullptr;
    }
    if (info.filePrefix().length() > 0 && info.fileSuffix().length() > 0) {
        TextString name = info.staticPath();
        TextString found = InfoFileServer::findFile(name);
        if (found.length() == 0) {
            PD_LOG(PROBLEM) << "Could not find static file " << LogText(name) << std::endl;
            return nullptr;
        }
        return getNetcdfPointData(found, writable, true);
    }
    const char* data = getenv("QEV_DATA");
    if (!data || !*data) {
        PD_LOG(PROBLEM) << "Env var QEV_DATA not defined" << std::endl;
        return nullptr;
    }
    return getNetcdfPointData(TextString(data) + "/" + info.directory(), writable, false);
}

void NetcdfPointData::deleteAllStores()
{
    for (Dict<TextString, NetcdfPointData*>* cache : {&writableStores(), &readOnlyStores()}) {
        // The paths stay, their stores gone (a replaced value keeps the
        // positional order).
        for (int i = 0; i < cache->count(); ++i) {
            delete cache->value(i);
            cache->insert(cache->key(i), nullptr);
        }
    }
}

void NetcdfPointData::forgetAllStores()
{
    deleteAllStores();
    for (Dict<TextString, NetcdfPointData*>* cache : {&writableStores(), &readOnlyStores()})
        *cache = Dict<TextString, NetcdfPointData*>();
    expectedOpenFiles = EXPECTED_OPEN_FILES;
}

NetcdfPointData::NetcdfPointData(const TextString& directory, bool writable, bool staticFile)
    : _writable(writable), _staticFile(staticFile), _noRecordMapping(false), _dirModTime(0),
      _dirModTimeNs(0), _forceListing(false),
      _directory(directory), _templateStructure(nullptr), _forecasts(false), _filePeriod(3600),
      _reReadMask(0), _accessErrorCountdown(0), _nextCheckTime(0), _checkInterval(60),
      _oldestLookupStart(0), _oldestLookupEnd(0), _newestLookupStart(0), _newestLookupEnd(0),
      _latestCoverageEnd(0), _earliestAcceptedTime(0), _lastWrittenFileInfo(nullptr),
      _currentFileInfo(nullptr), _selectedFile(-1), _resyncCount(0), _lockFd(-1), _inPass(false),
      _passCall(0), _passReused(0), _passLines(0), _passQuiet(0), _passSkipped(0), _passChecked(false)
{
    NetcdfIo::quietErrors();
    if (_writable && !_staticFile && !lockDirectory())
        return;
    NcFile* source = openNetCdfFile(_staticFile ? _directory : _directory + "/template", false,
                                    true);
    if (!source) {
        if (_writable || _staticFile)
            return;
        SeqOf<AbsTime>* times = dmFileTimes(_directory, "", "");
        if (times->length() > 0)
            source = openNetCdfFile(dmMakeTimeFileName(_directory, (*times)[0], "", ""), false,
                                    true);
        delete times;
        if (!source)
            return;
    }
    readOverrides(overrideFileName());
    _templateStructure = analyzeStructure(NetcdfIo::fileId(source), nullptr);
    if (_templateStructure)
        _templateStructure->useCount = 1;
    deleteNcFile(source);
    if (_writable && !_staticFile)
        DiskCommit::onFailure(this, [this](unsigned long long device, unsigned long long inode) {
            syncFailed(device, inode);
        });
    updateFileInfo();
    openPassJournal();
}

NetcdfPointData::~NetcdfPointData()
{
    DiskCommit::forget(this);
    if (!_journalFailure.empty())
        --heldStores;
    while (_fileInfos.count() > 0) {
        PointNetcdfFileInfo* info = _fileInfos.value(0);
        if (!info) {
            _fileInfos.remove(_fileInfos.key(0));
            continue;
        }
        deleteFileInfo(info);
    }
    // Handles still held by clients of records already taken out of the
    // store go with the store.
    while (_handles.count() > 0) {
        PointNetcdfFileInfo* info = _handles.value(0);
        _handles.remove(_handles.key(0));
        if (info && info->detached) {
            delete info->handle;
            delete info;
        }
    }
    for (int i = 0; i < _structures.count(); ++i)
        delete _structures.value(i);
    if (_lockFd >= 0)
        close(_lockFd);
}

TextString NetcdfPointData::overrideFileName() const
{
    if (_staticFile)
        return _directory + ".override";
    const char* data = getenv("QEV_DATA");
    if (!_writable && data && *data) {
        const char* at = strstr(_directory.c_str(), data);
        if (at) {
            const char* rest = at + strlen(data);
            while (*rest == '/')
                ++rest;
            TextString name = rest;
            for (int i = 0; i < name.length(); ++i) {
                if (name[i] == '/')
                    name[i] = '-';
            }
            name += ".override";
            TextBuffer found(name);
            if (found.lines.length() > 0)
                return name;
        }
    }
    return _directory + "/template.override";
}

void NetcdfPointData::readOverrides(const TextString& fileName)
{
    TextBuffer buffer(fileName);
    for (int i = 0; i < buffer.lines.length(); ++i) {
        SeqOf<TextString> words;
        splitWords(buffer.lines[i], words);
        if (words.length() == 2)
            _overrides.insert(words[0], words[1]);
    }
}

TextString& NetcdfPointData::lastFileTimeStamp()
{
    static TextString* stamp = new TextString();
    return *stamp;
}

void NetcdfPointData::disableNcSync() { NC_SYNC_WORKS_FOR_WRITING = 0; }

NetcdfPointData& NetcdfPointData::setCheckInterval(int seconds)
{
    _checkInterval = seconds;
    return *this;
}

bool NetcdfPointData::selectFile(int i)
{
    if (i >= _fileTimes.length())
        return false;
    _selectedFile = i;
    return true;
}

SeqOf<int> NetcdfPointData::timeVariableIds() const
{
    return _templateStructure ? _templateStructure->timeVariables : SeqOf<int>();
}

SeqOf<int> NetcdfPointData::idVariableIds() const
{
    return _templateStructure ? _templateStructure->idVariables : SeqOf<int>();
}

SeqOf<int>* NetcdfPointData::forecastTimes() const
{
    const PointFileStructure* s = _templateStructure;
    if (s && s->forecastList.length() > 0)
        return new SeqOf<int>(s->forecastList);
    SeqOf<int>* times = new SeqOf<int>();
    if (s && _forecasts && s->binWidth >= 1) {
        for (int t = s->startOffset; t < s->fileEndOffset; t += s->binWidth)
            times->append(t);
    } else {
        times->append(0);
    }
    return times;
}
