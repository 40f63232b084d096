// PointFileStructure: the analysed layout of a point-data template, shared by
// every file of a store that carries the same cdlDate text.  Made by
// NetcdfPointData::analyzeStructure and owned by the store's dictionary of
// structures; the use count counts the store's template reference and every
// file record that uses it.
//
// Variable ids are netCDF ids of the layout (the same in every file made from
// the template); -1 means absent, and prevRecord -999 means record chaining is
// switched off.
#ifndef POINTFILESTRUCTURE_H
#define POINTFILESTRUCTURE_H

#include "Dict.h"
#include "SeqOf.h"
#include "TextString.h"

struct PointFileStructure {
    TextString cdlDate;
    int maxStaticIds = 0;       // rows of the static id table; 0: no table
    int totalIdLen = 0;         // characters of one station id row
    int recordDim = -1;         // the unlimited dimension
    bool latLonIds = false;     // station keys are made from the position
    bool recordForecasts = false; // each record carries reference and valid time
    bool charInventories = false; // inventories are one character per bin
    bool cacheMetadata = true;
    int nInventoryBins = 1;
    int filePeriod = 0;         // seconds per data file
    int binWidth = 0;           // seconds per inventory bin
    int startOffset = 0;        // first covered second, from the file time
    int fileEndOffset = 0;      // last covered second, from the period start
    int forecastDim = -1;
    SeqOf<int> forecastList;    // seconds, one per index of the forecast dimension
    SeqOf<int> idVariables;
    SeqOf<int> idLengths;       // second-dimension size of each id variable
    SeqOf<int> timeVariables;
    int latitude = -1;
    int longitude = -1;
    int nStaticIds = -1;
    int staticIds = -1;
    int invTime = -1;
    int lastRecord = -1;
    int prevRecord = -1;
    int inventory = -1;
    int globalInventory = -1;
    int firstOverflow = -1;
    int isOverflow = -1;
    int firstInBin = -1;
    int lastInBin = -1;
    int useCount = 0;
    int maxOpen = 2;            // newest files a writing store keeps open
    bool logRewrites = false;
    // Data variables by name: {id, sizes of dimensions 2..n (-999 for the
    // forecast dimension), type}; a scalar {id, 0, type}.
    Dict<TextString, SeqOf<int> > variables;

    bool hasChaining() const { return prevRecord >= 0; }
    bool hasStaticTable() const { return maxStaticIds > 0; }
    // Records with no station, chain or bin bookkeeping (keyed by position):
    // every record a new one.
    bool placesEveryRecordAnew() const
    {
        return maxStaticIds <= 0 && nInventoryBins <= 1 && !hasChaining();
    }
};

#endif
