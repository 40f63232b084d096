#include "BufrDecoder.h"

#include "BufrTableVersions.h"
#include "DescriptorTree.h"
#include "DescriptorTreeCache.h"
#include "DescriptorWalker.h"
#include "LineFile.h"
#include "LogStream.h"
#include "LogText.h"
#include "PatternCheck.h"
#include "StaticBufrInfo.h"
#include "StringTokenizer.h"
#include "TableBEntry.h"
#include "environmentNotes.h"
#include "groupedDigits.h"

#include <netcdf.h>
#include <netcdfcpp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <new>
#include <sstream>
#include <string>
#include <vector>

const float BufrDecoder::MISSING_VALUE = -99999.0f;
const float BufrDecoder::NOT_IN_TABLE_B = 99999.0f;
const float BufrDecoder::CHARACTER_VALUE = -99999.9f;

namespace {

bool tablesLoadAttempted = false;
bool tablesLoadSucceeded = false;

// What one pattern file gave, kept for the process: the joined pattern and,
// line by line, the prefix and its designator expression, so that a later
// decoder reading the same file gets its own prefix set and designator
// dictionary filled without reading the file again.
struct CachedPattern {
    TextString pattern;
    SeqOf<TextString> prefixes;
    SeqOf<TextString> designators;
};

Dict<TextString, CachedPattern>& patternCache()
{
    static Dict<TextString, CachedPattern> cache;
    return cache;
}

// The first n (1..32) bits at bit `offset` (0..7) of p; reads exactly the
// octets that hold them.
uint32_t extractBits(const unsigned char* p, int offset, int n)
{
    uint64_t v = p[0] & (0xFFu >> offset);
    int have = 8 - offset;
    while (have < n) {
        v = (v << 8) | *++p;
        have += 8;
    }
    return static_cast<uint32_t>(v >> (have - n));
}

int toSigned(uint64_t bits, int n)
{
    if (n < 32 && ((bits >> (n - 1)) & 1))
        return static_cast<int>(static_cast<int64_t>(bits) - (int64_t(1) << n));
    return static_cast<int>(static_cast<uint32_t>(bits));
}

// The count octets that start bitOffset (0..7) bits into data, as
// characters into out.
void copyCharacters(const unsigned char* data, int bitOffset, int count, char* out)
{
    for (int i = 0; i < count; ++i) {
        out[i] = static_cast<char>(
            bitOffset == 0 ? data[i]
                           : ((data[i] << bitOffset) | (data[i + 1] >> (8 - bitOffset))) & 0xFF);
    }
}

// The first length characters of chars as a text.
TextString leadingText(const std::string& chars, int length)
{
    return length > 0 ? TextString(chars.data(), length) : TextString();
}

} // namespace

BufrDecoder::BufrDecoder()
    : _obTime(0),
      _dataCategory(0),
      _numElements(0),
      _dataPtr(nullptr),
      _descPtr(nullptr),
      _optionalSection(false),
      _compressed(false),
      _bitOffset(0),
      _subsets(0),
      _decodedOk(false),
      _section3Length(0),
      _dataEnd(nullptr),
      _readFailed(false),
      _messageLength(0),
      _consumed(0),
      _edition(0),
      _originatingCentre(0),
      _masterTableVersion(0),
      _sectionTime{0, 0, 0, 0, 0, 0},
      _shortSection4(false),
      _debugLog(false),
      _tree(nullptr),
      _walker(new DescriptorWalker(*this)),
      _trees(new DescriptorTreeCache()),
      _eventLog(false),
      _verboseLog(false)
{
    if (!tablesLoadAttempted) {
        tablesLoadSucceeded = StaticBufrInfo::instance()->loadTables();
        tablesLoadAttempted = true;
    }
}

BufrDecoder::~BufrDecoder()
{
    for (int i = 0; i < _designatorDict.count(); ++i) {
        regex_t* compiled = static_cast<regex_t*>(_designatorDict.value(i));
        if (compiled) {
            regfree(compiled);
            delete compiled;
        }
    }
    delete _walker;
    delete _trees;
}

bool BufrDecoder::tablesLoaded()
{
    return tablesLoadSucceeded;
}

bool BufrDecoder::preProcess()
{
    return true;
}

int BufrDecoder::write2NetcdfFile()
{
    return 1;
}

bool BufrDecoder::sendNotification()
{
    return true;
}

SeqOf<BufrValues>& BufrDecoder::getDecodedValues()
{
    if (!_decodedOk) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder") << "BUFR data not decoded." << std::endl;
        _decodedValues = SeqOf<BufrValues>();
    }
    return _decodedValues;
}

// ---------------------------------------------------------------------------
// Message decoding: sections 0 to 5

namespace {

const char* const dashes = "-------------------------------------------------------";
const int maxHeaderOctets = 119;
// The memory a message's values take beyond which the heap is given back
// to the system once they go.
const long trimAfterBytes = 32L << 20;
// The written-out descriptor lists the tree cache keeps at the most, each.
const long maxKeptDescriptors = 65536;
// Descriptors of section 3 beyond the bits of section 4 (operators and
// elements of no width take none).
const long zeroWidthDescriptors = 65536;
// The most descriptors one subset may be written out to: all but a few
// (operators) stand for a value or more, and a value costs 32 octets at the
// least while it is decoded (itself and its item, or its column's share),
// within the memory a message may take.
const long maxWrittenDescriptors = DescriptorWalker::maxBytes / 32;

// The first octet from `from` where "BUFR" begins, whole before `to`; -1
// when there is none.
long findMessage(const unsigned char* data, long from, long to)
{
    if (from < 0 || to - from < 4)
        return -1;
    // Each "B" by memchr, the fastest pass over the octets there is: every
    // message's octets are searched once by the frame check.
    const unsigned char* const last = data + to - 4;
    for (const unsigned char* p = data + from; p <= last; ++p) {
        p = static_cast<const unsigned char*>(
            std::memchr(p, 'B', static_cast<std::size_t>(last - p) + 1));
        if (!p)
            return -1;
        if (std::memcmp(p, "BUFR", 4) == 0)
            return p - data;
    }
    return -1;
}

// The least octets of section 1 (by edition), 2, 3 and 4: what their
// fields take.
long sectionMinimum(int section, int edition)
{
    static const long minimum[] = {0, 17, 4, 7, 4};
    return section == 1 && edition >= 4 ? 22 : minimum[section];
}

// The frame of the message whose "BUFR" is at p, `available` octets before
// the end of the buffer, as far as it is whole: its declared end (the total
// length of section 0) within the buffer with "7777" as its last four
// octets, then sections 1 to 4 (section 2 when section 1 flags it), each of
// at least its fields' length, ending right before those four octets.  The
// one reading of a frame: of the message to decode, and of every "BUFR"
// inside it.  Reads no octet past the declared end.
struct Frame {
    enum Fault {
        WHOLE,
        NOT_A_MESSAGE,       // no "BUFR" and edition 2 to 4
        PAST_THE_DATA,       // the declared end lies past the buffer's
        NO_END_MARKER,       // no "7777" where the declared length ends
        SECTION_TOO_LONG,    // the section leaves no room for section 5
        SECTION_TOO_SHORT,   // shorter than its fields
        SECTIONS_END_EARLY   // "7777" does not follow section 4
    };
    Fault fault = NOT_A_MESSAGE;
    long declared = 0;
    int section = 0;       // the section of a section fault
    long length = 0;       // its length
    long remaining = 0;    // the declared octets from its start on
    long minimum = 0;      // its fields' length
    long sectionsEnd = 0;  // where section 4 ends, from "BUFR"
};

Frame readFrame(const unsigned char* p, long available)
{
    Frame f;
    if (available < 8 || std::memcmp(p, "BUFR", 4) != 0 || p[7] < 2 || p[7] > 4)
        return f;
    const int edition = p[7];
    f.declared = BufrDecoder::readBigEndian3(p + 4);
    if (f.declared > available) {
        f.fault = Frame::PAST_THE_DATA;
        return f;
    }
    if (f.declared < 12 || std::memcmp(p + f.declared - 4, "7777", 4) != 0) {
        f.fault = Frame::NO_END_MARKER;
        return f;
    }
    long at = 8;
    for (int section = 1; section <= 4; ++section) {
        if (section == 2 && (p[8 + (edition >= 4 ? 9 : 7)] & 0x80) == 0)
            continue;
        f.section = section;
        f.remaining = f.declared - at;
        f.length = BufrDecoder::readBigEndian3(p + at);
        f.minimum = sectionMinimum(section, edition);
        if (f.length > f.remaining - 4) {
            f.fault = Frame::SECTION_TOO_LONG;
            return f;
        }
        if (f.length < f.minimum) {
            f.fault = Frame::SECTION_TOO_SHORT;
            return f;
        }
        at += f.length;
    }
    f.section = 0;
    f.sectionsEnd = at;
    f.fault = at == f.declared - 4 ? Frame::WHOLE : Frame::SECTIONS_END_EARLY;
    return f;
}

// The four-digit year of section 1: editions 2 and 3 give the year of the
// century (some encoders wrote years after 1999 as 100 and more), edition 4
// the whole year.
int fullYear(int edition, const unsigned char* section1)
{
    if (edition >= 4)
        return BufrDecoder::readBigEndian2(section1 + 15);
    int year = section1[12];
    if (year >= 100)
        year -= 100;
    return year < 70 ? 2000 + year : 1900 + year;
}

} // namespace

bool BufrDecoder::decode(const void* buffer, unsigned size, unsigned from)
{
    bool ok = false;
    try {
        ok = decodeMessage(buffer, size, from);
    } catch (const std::bad_alloc&) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
            << "Not enough memory to decode the message of " << size << " bytes" << std::endl;
        _decodedValues = SeqOf<BufrValues>();
        _repCountList = _noNumbers;
    }
    // A tree that the cache did not keep served this message only.
    _tree = nullptr;
    _trees->release();
    // What a large message took goes back to the system once it is freed
    // (the values of the message before go when this one's replace them):
    // the heap keeps the many small blocks of their texts otherwise.
    const long taken = _walker->takeBytesTaken();
    if (taken > trimAfterBytes || _lastBytesTaken > trimAfterBytes)
        malloc_trim(0);
    _lastBytesTaken = taken;
    return ok;
}

bool BufrDecoder::decodeMessage(const void* buffer, unsigned size, unsigned from)
{
    // The message is read in place: every reader is bounded by
    // _messageLength and the section lengths.  Octets count from the
    // buffer's start.
    const unsigned char* start =
        buffer && size > from ? static_cast<const unsigned char*>(buffer) : nullptr;
    const long octets = start ? static_cast<long>(size) : 0;
    _messageLength = static_cast<long>(size);
    _consumed = start ? static_cast<long>(from) : 0;
    _refusedSection = 0;
    _edition = 0;
    _shortSection4 = false;
    // Nothing of the last message answers for this one: a decoder after any
    // other message answers as a new one does, also when this one fails
    // before its sections say otherwise.
    _decodedOk = false;
    _obTime = AbsTime(0);
    _dataCategory = 0;
    _subsets = 0;
    _compressed = false;
    _numElements = 0;
    _section3Length = 0;
    _replDescList = _noGroups;
    _nestedRepList = _noGroups;
    _tree = nullptr;
    _nextMessage = -1;
    _messageStart = -1;
    _frameWhole = false;
    _octetsAfterSubsets = 0;
    _moreSubsetsLeft = false;
    _decodeFailure = TextString();
    _eventLog = logOn(LogStream::EVENT, "BufrDecoder");
    _verboseLog = logOn(LogStream::VERBOSE, "BufrDecoder");
    _debugLog = logOn(LogStream::DEBUG, "BufrDecoder");
    if (_verboseLog)
        QEV_LOG(LogStream::VERBOSE, "BufrDecoder") << "Message length = " << octets - _consumed
                                                   << std::endl;

    // The last message's values and factors stay until this one's replace
    // them, so that their storage can hold them; a failure leaves none.
    const void* lastValues = _decodedValues.rep();
    const void* lastCounts = _repCountList.rep();
    _descriptors = _noNumbers;

    if (_debugLog) {
        QEV_LOG(LogStream::DEBUG, "BufrDecoder") << dashes << std::endl;
        QEV_LOG(LogStream::DEBUG, "BufrDecoder")
            << "Output of buffer datastream(printing first 300 octets)" << std::endl;
        QEV_LOG(LogStream::DEBUG, "BufrDecoder") << dashes << std::endl;
        hexDump(start, 20, static_cast<int>(_consumed),
                static_cast<int>(std::min(300L, octets - _consumed)));
        QEV_LOG(LogStream::DEBUG, "BufrDecoder") << dashes << std::endl;
    }

    const unsigned char* next = start ? decodeSection0(start + _consumed) : nullptr;
    const unsigned char* section0 = next;
    bool ok = false;
    int failedSection = -1;
    if (!next) {
        failedSection = _refusedSection;
    } else if (!(next = decodeSection1(section0 + 8))) {
        failedSection = 1;
    } else if (!(next = decodeSection2(next))) {
        failedSection = 2;
    } else if (!(next = decodeSection3(next))) {
        failedSection = 3;
    } else {
        next = decodeSection4(next, ok);
        if (!ok) {
            failedSection = 4;
        } else {
            if (_debugLog)
                printDecodedValues();
            _decodedOk = true;
            // Section 5 is the last four octets of the declared length,
            // "7777" (the frame was refused otherwise).
            const unsigned char* section5 = start + _messageLength - 4;
            if (_debugLog) {
                QEV_LOG(LogStream::DEBUG, "BufrDecoder")
                    << "BufrDecoder:Output of Section 5 - End-Of-Message:" << std::endl;
                QEV_LOG(LogStream::DEBUG, "BufrDecoder") << " 1  2  3  4" << std::endl;
                hexDump(section5, 20, 0, 4);
            }
            if (_eventLog)
                QEV_LOG(LogStream::EVENT, "BufrDecoder")
                    << "Section 5 consists of the end-of-message sentinel"
                    << " \"7777\" as expected." << std::endl;
        }
    }

    if (failedSection >= 0) {
        const TextString failure =
            TextString("Failed to decode Section ") + std::to_string(failedSection).c_str();
        if (_frameWhole || !_quietRefusals)
            QEV_LOG(LogStream::PROBLEM, "BufrDecoder") << failure << std::endl;
        if (_decodeFailure.length() == 0)
            _decodeFailure = failure;
    }
    if (!ok && _decodedValues.rep() == lastValues)
        _decodedValues = SeqOf<BufrValues>();
    if (!ok && _repCountList.rep() == lastCounts)
        _repCountList = _noNumbers;

    // Only the first message of a file is decoded; say so when more follow.
    // The next one begins after the declared end of a whole message, and
    // may begin anywhere after the "BUFR" of one whose frame was refused
    // (inside it or behind it).
    if (_messageStart >= 0) {
        _nextMessage = findMessage(start, _frameWhole ? _messageLength : _messageStart + 1, octets);
        if (_nextMessage >= 0 && !_readsEveryMessage)
            QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
                << "More BUFR messages follow the first one, from octet " << _nextMessage
                << "; only the first is decoded" << std::endl;
    }
    return ok;
}

const unsigned char* BufrDecoder::skipHeader(const unsigned char* message)
{
    if (_debugLog)
        QEV_LOG(LogStream::DEBUG, "BufrDecoder") << " BufrDecoder::skipHeader()" << std::endl;
    for (long h = 0; h <= maxHeaderOctets && _consumed + h + 4 <= _messageLength; ++h) {
        if (std::memcmp(message + h, "BUFR", 4) == 0) {
            _consumed += h;
            _messageStart = _consumed;
            if (_verboseLog)
                QEV_LOG(LogStream::VERBOSE, "BufrDecoder") << "Number of header bytes = " << h
                                                           << std::endl;
            return message + h;
        }
    }
    return nullptr;
}

const unsigned char* BufrDecoder::decodeSection0(const unsigned char* message)
{
    const unsigned char* section0 = message ? skipHeader(message) : nullptr;
    if (!section0)
        return nullptr;
    if (_messageLength - _consumed < 8) {
        if (!_quietRefusals)
            QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
                << "Section 0 needs 8 bytes, the message has " << (_messageLength - _consumed)
                << " left" << std::endl;
        return nullptr;
    }
    if (_debugLog) {
        QEV_LOG(LogStream::DEBUG, "BufrDecoder") << "BufrDecoder:Output of Section 0 - Indicator:"
                                                 << std::endl;
        QEV_LOG(LogStream::DEBUG, "BufrDecoder") << " 1  2  3  4  5  6  7  8" << std::endl;
        hexDump(section0, 20, 0, 8);
    }
    _edition = section0[7];
    if (_edition < 2 || _edition > 4) {
        _decodeFailure = TextString("BUFR edition ") + std::to_string(_edition).c_str() +
                         " is not supported";
        if (!_quietRefusals)
            QEV_LOG(LogStream::PROBLEM, "BufrDecoder") << _decodeFailure << std::endl;
        return nullptr;
    }
    if (!frameIsWhole(section0))
        return nullptr;
    frameAccepted();
    _consumed += 8;
    return section0;
}

bool BufrDecoder::frameIsWhole(const unsigned char* section0)
{
    // The octet of the buffer where "BUFR" is, and the octets from there to
    // the end of the buffer.
    const long start = _consumed;
    const long available = _messageLength - start;
    const Frame frame = readFrame(section0, available);
    const long declared = readBigEndian3(section0 + 4);
    // The start of a refusal's line (made only for one).
    auto message = [declared]() {
        return "Message of " + groupedDigits(declared) + " octets declared";
    };
    std::string why;
    _refusedSection = frame.section;
    switch (frame.fault) {
    case Frame::WHOLE: {
        // A whole message inside it, or one that begins inside it and runs
        // past its end, means it was cut short and the rest of its length
        // is the other's.  Any other "BUFR" in it is its data's (a text, a
        // number): only a whole frame proves a message.
        for (long q = findMessage(section0, 1, declared); why.empty() && q > 0;
             q = findMessage(section0, q + 1, declared)) {
            const Frame inner = readFrame(section0 + q, available - q);
            if (inner.fault != Frame::WHOLE)
                continue;
            why = message() + " is cut short: " +
                  (q + inner.declared > declared ? "another message begins at octet "
                                                 : "a whole message lies inside it from octet ") +
                  groupedDigits(start + q);
        }
        break;
    }
    case Frame::PAST_THE_DATA:
    case Frame::NO_END_MARKER: {
        // A message cut short by its sender is followed by the next one (or
        // its trailer and heading) before its declared end, or by nothing:
        // a message that begins before that end tells.
        const long next = findMessage(section0, 1, std::min(declared + 3, available));
        if (next > 0 && readFrame(section0 + next, available - next).fault == Frame::WHOLE)
            why = message() + " is cut short: another message begins at octet " +
                  groupedDigits(start + next);
        else if (frame.fault == Frame::PAST_THE_DATA)
            why = message() + " is cut short: the data ends at octet " +
                  groupedDigits(_messageLength);
        else
            why = message() + " does not end in \"7777\"";
        break;
    }
    case Frame::SECTION_TOO_LONG:
        why = "Section " + std::to_string(frame.section) + " length of " +
              std::to_string(frame.length) + " bytes > remaining msg length of " +
              std::to_string(frame.remaining) + " bytes";
        break;
    case Frame::SECTION_TOO_SHORT:
        why = "Section " + std::to_string(frame.section) + " length of " +
              std::to_string(frame.length) + " bytes is too short for its fields (" +
              std::to_string(frame.minimum) + " bytes)";
        break;
    case Frame::SECTIONS_END_EARLY:
        why = message() + ": its sections end at octet " +
              groupedDigits(start + frame.sectionsEnd) + ", " +
              groupedDigits(declared - frame.sectionsEnd) + " octets before its declared end";
        break;
    case Frame::NOT_A_MESSAGE:
        why = "Section 0 is not that of a message";
        break;
    }
    if (why.empty()) {
        // What follows the declared end belongs to other messages.
        _messageLength = start + declared;
        _frameWhole = true;
        return true;
    }
    _decodeFailure = TextString(why.c_str());
    if (!_quietRefusals)
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder") << _decodeFailure << std::endl;
    return false;
}

void BufrDecoder::storeSectionTime(const unsigned char* section1)
{
    const int month = _edition >= 4 ? 17 : 13;    // octet 18 or 14
    _sectionTime[0] = fullYear(_edition, section1);
    for (int i = 1; i <= 4; ++i)
        _sectionTime[i] = section1[month + i - 1];
    _sectionTime[5] = _edition >= 4 ? section1[21] : 0;
}

std::string BufrDecoder::sectionTimeFault() const
{
    const int* t = _sectionTime;
    const struct {
        const char* name;
        int low;
        int high;
    } fields[] = {{"month", 1, 12},
                  {"day", 1, t[1] >= 1 && t[1] <= 12 ? AbsTime::daysInMonth(t[1], t[0]) : 31},
                  {"hour", 0, 23},
                  {"minute", 0, 59},
                  {"second", 0, 59}};
    for (int i = 0; i < 5; ++i) {
        if (t[i + 1] < fields[i].low || t[i + 1] > fields[i].high)
            return std::string("has an impossible ") + fields[i].name + " " +
                   std::to_string(t[i + 1]);
    }
    // The system's times are seconds since 1970 in 32 bits.
    if (t[0] >= 1970 && t[0] < 2038)
        return std::string();
    const int64_t seconds = AbsTime::secondsSince1970(t[0], t[1], t[2], t[3], t[4], t[5]);
    if (t[0] < 1970 || seconds > INT32_MAX)
        return "of year " + std::to_string(t[0]) + " lies outside 1970 to 2038-01-19";
    return std::string();
}

AbsTime BufrDecoder::getObTime(const unsigned char*) const
{
    return AbsTime(_sectionTime[0], _sectionTime[1], _sectionTime[2], _sectionTime[3],
                   _sectionTime[4], _sectionTime[5]);
}

const unsigned char* BufrDecoder::decodeSection1(const unsigned char* section1)
{
    if (_debugLog)
        QEV_LOG(LogStream::DEBUG, "BufrDecoder") << " BufrDecoder::decodeSection1()" << std::endl;
    // The frame check has found each section whole within the message.
    const long length = readBigEndian3(section1);
    if (_debugLog)
        QEV_LOG(LogStream::DEBUG, "BufrDecoder") << " section1Len = " << length << std::endl;
    if (_debugLog) {
        QEV_LOG(LogStream::DEBUG, "BufrDecoder")
            << "BufrDecoder:Output of Section 1 - Identification:" << std::endl;
        QEV_LOG(LogStream::DEBUG, "BufrDecoder")
            << " 1  2  3  4  5  6  7  8  9 10 11 12 13 14 15 16 17 18" << std::endl;
        hexDump(section1, 20, 0, static_cast<int>(length));
    }
    const bool edition4 = _edition >= 4;
    // Only WMO's master table 0 (meteorology) is loaded: a message of
    // another master table numbers its elements otherwise.
    if (section1[3] != 0) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
            << "BUFR master table " << int(section1[3])
            << " is not supported; the tables loaded are those of master table 0" << std::endl;
        return nullptr;
    }
    // Edition 3 gives the centre in octet 6 (octet 5 is the sub-centre),
    // editions 2 and 4 in octets 5-6.
    _originatingCentre = _edition == 3 ? section1[5] : readBigEndian2(section1 + 4);
    _masterTableVersion = section1[edition4 ? 13 : 10];
    // A version no table can be is a damaged octet: the newest tables
    // would read the message as something it is not.
    if (_masterTableVersion > BufrTableVersions::NEWEST_POSSIBLE) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
            << "BUFR master table version " << _masterTableVersion
            << (_masterTableVersion == 255 ? " (missing)" : "")
            << " is no version WMO has published; versions up to "
            << BufrTableVersions::NEWEST_POSSIBLE << " are read" << std::endl;
        return nullptr;
    }
    if (_debugLog)
        QEV_LOG(LogStream::DEBUG, "BufrDecoder")
            << "Originating centre " << _originatingCentre << ", master table version "
            << _masterTableVersion << std::endl;
    _dataCategory = section1[edition4 ? 10 : 8];
    if (_debugLog)
        QEV_LOG(LogStream::DEBUG, "BufrDecoder")
            << "Data Category (Bufr Table A): " << _dataCategory << std::endl;
    storeSectionTime(section1);
    const std::string timeFault = sectionTimeFault();
    if (timeFault.empty()) {
        _obTime = getObTime(section1);
    } else {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
            << "Section 1 time " << timeFault << "; the message has no observation time"
            << std::endl;
        _obTime = AbsTime(0);
    }
    if (_debugLog)
        QEV_LOG(LogStream::DEBUG, "BufrDecoder")
            << "_obTime: " << _obTime.toString("%h %d %y %T GMT") << std::endl;
    _optionalSection = (section1[edition4 ? 9 : 7] & 0x80) != 0;
    _consumed += length;
    return section1 + length;
}

const unsigned char* BufrDecoder::decodeSection2(const unsigned char* section2)
{
    if (_debugLog)
        QEV_LOG(LogStream::DEBUG, "BufrDecoder") << " BufrDecoder::decodeSection2()" << std::endl;
    if (!_optionalSection)
        return section2;
    const long length = readBigEndian3(section2);
    if (_debugLog)
        QEV_LOG(LogStream::DEBUG, "BufrDecoder") << " section2Len = " << length << std::endl;
    if (_debugLog) {
        QEV_LOG(LogStream::DEBUG, "BufrDecoder") << "BufrDecoder:Output of Section 2 - Optional:"
                                                 << std::endl;
        QEV_LOG(LogStream::DEBUG, "BufrDecoder")
            << " 1  2  3  4  5  6  7  8  9 10 11 12 13 14 15 16 17 18 19 20" << std::endl;
        hexDump(section2, 20, 0, static_cast<int>(length));
    }
    _consumed += length;
    return section2 + length;
}

bool BufrDecoder::isCompressed(const unsigned char* section3)
{
    return (section3[6] & 0x40) != 0;
}

int BufrDecoder::readDescriptor()
{
    int f = _descPtr[0] >> 6;
    int x = _descPtr[0] & 0x3F;
    int y = _descPtr[1];
    _descPtr += 2;
    return f * 100000 + x * 1000 + y;
}

const unsigned char* BufrDecoder::decodeSection3(const unsigned char* section3)
{
    if (_debugLog)
        QEV_LOG(LogStream::DEBUG, "BufrDecoder") << " BufrDecoder::decodeSection3()" << std::endl;
    const long length = readBigEndian3(section3);
    _section3Length = static_cast<int>(length);
    if (_debugLog)
        QEV_LOG(LogStream::DEBUG, "BufrDecoder") << " section3Len = " << length << std::endl;
    if (_debugLog) {
        QEV_LOG(LogStream::DEBUG, "BufrDecoder")
            << "BufrDecoder:Output of Section 3 - Description:" << std::endl;
        hexDump(section3, 20, 0, static_cast<int>(length));
    }
    // The descriptors from octet 8, read in place: (length - 7) / 2 of them
    // lie within the section.  Section 4's data bounds what they may expand
    // to: the bits its length gives (the frame check found it whole).
    const long dataBits = 8 * (readBigEndian3(section3 + length) - 4);
    SeqOf<int> expanded =
        expandDescriptors(section3 + 7, dataBits, readBigEndian2(section3 + 4));
    if (expanded.length() == 0) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder") << "Unable to expand descriptors."
                                                   << std::endl;
        return nullptr;
    }
    if (_debugLog)
        printDescriptors();
    _numElements = _descriptors.length();
    _compressed = isCompressed(section3);
    _subsets = readBigEndian2(section3 + 4);
    _consumed += length;
    return section3 + length;
}

SeqOf<int> BufrDecoder::expandDescriptors(const unsigned char* descriptors, long dataBits,
                                          int subsets)
{
    _replDescList = _noGroups;
    _nestedRepList = _noGroups;
    _descriptors = _noNumbers;
    _tree = nullptr;
    const int count = (_section3Length - 7) / 2;
    const std::size_t octets = 2 * static_cast<std::size_t>(count > 0 ? count : 0);
    if (_debugLog) {
        _descPtr = descriptors;
        for (int i = 0; i < count; ++i) {
            const int descriptor = readDescriptor();
            QEV_LOG(LogStream::DEBUG, "BufrDecoder") << "Descriptor " << i << " = " << descriptor
                                                     << std::endl;
        }
    }
    _descPtr = descriptors + octets;

    // Every descriptor of section 3 stands for at least one element, which
    // takes at least one bit of section 4 unless its width is 0; the few
    // that take none (operators, among them) have a margin of their own.
    // The tree of more is not built.
    if (count > dataBits + zeroWidthDescriptors) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
            << "Section 3 lists " << count << " descriptors, more than the " << dataBits
            << " bits of section 4 can hold" << std::endl;
        return _descriptors;
    }

    // A message with the descriptors of an earlier one of its centre, read
    // with the same tables, takes its tree.
    const StaticBufrInfo::Origin origin{_originatingCentre, _masterTableVersion};
    const int tables = StaticBufrInfo::instance()->tablesKey(origin);
    DescriptorTreeCache::Entry* entry =
        _trees->find(descriptors, octets, tables, _originatingCentre);
    // A new entry, or new lists in one, is kept (measured) again.
    bool changed = !entry;
    if (!entry) {
        entry = _trees->add(descriptors, octets, tables, _originatingCentre);
        _descPtr = descriptors;
        SeqOf<int> list;
        for (int i = 0; i < count; ++i)
            list.append(readDescriptor());
        if (!entry->tree.build(list, origin))
            return SeqOf<int>();
    }
    _tree = &entry->tree;

    // Written out for one subset, the elements that take data are bounded by
    // what section 4 holds, and all the descriptors by the memory a message
    // may take (each stands for one value or more): counted before anything
    // is written.
    const DescriptorTree::WrittenOut& written = entry->tree.writtenOut();
    if (subsets > 0 && written.takingData > dataBits) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
            << "The descriptors expand to " << written.takingData
            << " elements that take data, more than the " << dataBits
            << " bits of section 4 can hold" << std::endl;
    } else if (written.descriptors > maxWrittenDescriptors) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
            << "The descriptors expand to " << written.descriptors << " descriptors, more than the "
            << maxWrittenDescriptors << " a message may hold" << std::endl;
    } else {
        if (!entry->flattened) {
            SeqOf<int> list;
            SeqOf<SeqOf<int> > groups, nested;
            entry->tree.flatten(list, groups, nested, maxWrittenDescriptors);
            entry->descriptors = list;
            entry->groups = groups;
            entry->nested = nested;
            entry->flattened = true;
            changed = true;
        }
        _descriptors = entry->descriptors;
        _replDescList = entry->groups;
        _nestedRepList = entry->nested;
        // Long lists are not kept for later messages.
        if (written.descriptors > maxKeptDescriptors) {
            entry->flattened = false;
            entry->descriptors = _noNumbers;
            entry->groups = entry->nested = _noGroups;
        }
    }
    if (changed)
        _trees->keep(entry);
    return _descriptors;
}

const unsigned char* BufrDecoder::decodeSection4(const unsigned char* section4, bool& ok)
{
    ok = true;
    if (_debugLog)
        QEV_LOG(LogStream::DEBUG, "BufrDecoder") << " BufrDecoder::decodeSection4()" << std::endl;
    const long length = readBigEndian3(section4);
    if (_debugLog)
        QEV_LOG(LogStream::DEBUG, "BufrDecoder") << " section4Len = " << length << std::endl;
    _shortSection4 = length <= 60;
    if (_debugLog) {
        QEV_LOG(LogStream::DEBUG, "BufrDecoder") << "BufrDecoder:Output of Section 4 - Data:"
                                                 << std::endl;
        hexDump(section4, 20, 0, static_cast<int>(_shortSection4 ? length : 60));
    }
    // The data is read in place: every read is bounded by the section.
    setReadRegion(section4 + 4, static_cast<unsigned>(length - 4));

    bool read = false;
    if (_compressed) {
        if (_eventLog)
            QEV_LOG(LogStream::EVENT, "BufrDecoder")
                << "Message is in compressed format.  Subsets: " << _subsets << std::endl;
        read = decodeCompressedData();
        if (!read)
            QEV_LOG(LogStream::PROBLEM, "BufrDecoder") << "Unable to decode compressed data."
                                                       << std::endl;
    } else {
        if (_eventLog)
            QEV_LOG(LogStream::EVENT, "BufrDecoder")
                << "Message is in standard format.  Subsets: " << _subsets << std::endl;
        read = decodeStandardData();
        if (!read)
            QEV_LOG(LogStream::PROBLEM, "BufrDecoder") << "Unable to decode standard data."
                                                       << std::endl;
    }
    ok = read;
    // What is left after the last subset (after none, of a message that
    // declares none) is padding, whatever its octets, unless it holds one
    // more subset: then the subset count is short of the subsets given, and
    // the values read are not the message's.
    if (read && !onlyPaddingLeft(_consumed + length)) {
        _decodedValues = SeqOf<BufrValues>();
        _repCountList = _noNumbers;
        ok = false;
    } else if (read && !_compressed && _shortSection4 && _subsets == 0) {
        // Nothing to decode: the time of section 1 stands for the data.
        addSection1Time();
        ok = false;
    }
    _shortSection4 = false;
    setReadRegion(nullptr, 0);
    if (_debugLog)
        QEV_LOG(LogStream::DEBUG, "BufrDecoder")
            << "Section 4 of " << length << " bytes decoded; section 5 at byte "
            << (_consumed + length) << std::endl;
    return section4 + length;
}

bool BufrDecoder::onlyPaddingLeft(long section4End)
{
    const DescriptorWalker::Leftover& left = _walker->leftover();
    _octetsAfterSubsets = left.octets;
    _moreSubsetsLeft = left.subsetsLeft;
    if (!left.subsetsLeft) {
        if (left.octets > 0 && _debugLog)
            QEV_LOG(LogStream::DEBUG, "BufrDecoder")
                << "Section 4 ends in " << left.octets
                << " octets of padding after its last subset" << std::endl;
        return true;
    }
    QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
        << "Section 4 holds more than its " << _subsets << " subset" << (_subsets == 1 ? "" : "s")
        << ": octets " << groupedDigits(section4End - left.octets) << " to "
        << groupedDigits(section4End - 1) << " (" << groupedDigits(left.octets)
        << ") are left unread, and they are not padding" << std::endl;
    return false;
}

bool BufrDecoder::decodeStandardData()
{
    return _walker->decodeStandardData();
}

bool BufrDecoder::decodeCompressedData()
{
    return _walker->decodeCompressedData();
}

void BufrDecoder::addSection1Time()
{
    _decodedValues = SeqOf<BufrValues>();
    static const int timeDescriptors[6] = {4001, 4002, 4003, 4004, 4005, 4006};
    for (int i = 0; i < 6; ++i) {
        _decodedValues.append(BufrValues(0, timeDescriptors[i],
                                         static_cast<float>(_sectionTime[i]), 0, TextString()));
    }
}

void BufrDecoder::hexDump(const unsigned char* data, int perLine, int start, int count)
{
    std::string line;
    char octet[8];
    for (int i = 0; i < count; ++i) {
        std::snprintf(octet, sizeof octet, "%.2X ", data[start + i]);
        line += octet;
        if ((i + 1) % perLine == 0) {
            QEV_LOG(LogStream::DEBUG, "BufrDecoder") << line << std::endl;
            line.clear();
        }
    }
    if (!line.empty())
        QEV_LOG(LogStream::DEBUG, "BufrDecoder") << line << std::endl;
}

void BufrDecoder::printDecodedValues()
{
    QEV_LOG(LogStream::DEBUG, "BufrDecoder") << "Output of decoded values..........."
                                             << std::endl;
    const SeqOf<BufrValues>& values = _decodedValues;
    for (int i = 0; i < values.length(); ++i) {
        const BufrValues& v = values[i];
        QEV_LOG(LogStream::DEBUG, "BufrDecoder")
            << "_decodedValues[" << i << "]= " << v.getDescriptor() << " " << v.getValue() << " "
            << v.getSubset() << " " << v.getIndex() << " <" << LogText(v.getCharValue()) << ">"
            << std::endl;
    }
}

void BufrDecoder::printDescriptors()
{
    QEV_LOG(LogStream::DEBUG, "BufrDecoder") << "Output of element descriptors...."
                                             << std::endl;
    const SeqOf<int>& descriptors = _descriptors;
    for (int i = 0; i < descriptors.length(); ++i)
        QEV_LOG(LogStream::DEBUG, "BufrDecoder") << "_descriptors[" << i
                                                 << "]= " << descriptors[i] << std::endl;
    QEV_LOG(LogStream::DEBUG, "BufrDecoder") << "Output of replicated descriptors...."
                                             << std::endl;
    const char* names[2] = {"_replDescList[", "_nestedRepList["};
    const SeqOf<SeqOf<int> >* lists[2] = {&_replDescList, &_nestedRepList};
    for (int l = 0; l < 2; ++l) {
        const SeqOf<SeqOf<int> >& groups = *lists[l];
        for (int i = 0; i < groups.length(); ++i) {
            if (i > 0)
                QEV_LOG(LogStream::DEBUG, "BufrDecoder") << "--- next sequence ---" << std::endl;
            const SeqOf<int>& group = groups[i];
            for (int j = 0; j < group.length(); ++j)
                QEV_LOG(LogStream::DEBUG, "BufrDecoder") << names[l] << i << "][" << j
                                                         << "]= " << group[j] << std::endl;
        }
    }
}

// ---------------------------------------------------------------------------
// Pattern file and regional designators

// A count line of three free words and the number of pattern lines, then one
// line per product family: the file-name pattern word from column 1, free
// text, and from column 11 an extended regular expression for the two
// designator characters that follow the four-letter prefix in a file name.
TextString BufrDecoder::getBufrPattern()
{
    TextString fileName = getPatternFileName();
    CachedPattern cached;
    // The prefixes and designators of the lines the pattern uses.
    const auto take = [this, &cached] {
        for (int i = 0; i < cached.prefixes.length(); ++i) {
            _prefixSet.insert(cached.prefixes[i]);
            initDesignators(cached.prefixes[i], cached.designators[i]);
        }
    };
    if (patternCache().find(fileName, nullptr, &cached)) {
        take();
        return cached.pattern;
    }

    TextString path = StaticBufrInfo::homePath("/data/" + fileName);
    LineFile file(path);
    if (!file.isOpen()) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
            << "Unable to get bufr pattern from " << LogText(path)
            << StaticBufrInfo::homeUnsetNote() << std::endl;
        return TextString();
    }
    QEV_LOG(LogStream::VERBOSE, "BufrDecoder") << "Reading bufr patterns from " << LogText(path)
                                               << std::endl;
    TextString line;
    int count = 0;
    if (!file.readLine(line, false) || std::sscanf(line.c_str(), "%*s%*s%*s%d", &count) != 1 ||
        count < 0) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
            << "No pattern count in the first line of " << LogText(path) << std::endl;
        count = 0;
    }

    TextString pattern;
    for (int i = 0; i < count && file.readLine(line, false); ++i) {
        int blank = 0;
        TextString word = line.indexOfChar(' ', blank) ? line.subString(0, blank) : line;
        if (word.length() == 0)
            continue;    // an empty alternative would match every product
        const PatternCheck check(word);
        if (check.fault()) {
            QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
                << "Pattern " << LogText(word) << " of " << LogText(path) << " " << check.fault()
                << "; line not used" << std::endl;
            continue;
        }
        TextString prefix = upperCaseLetters(word);
        TextString designators = line.length() > 10 ? line.subString(10, line.length() - 10)
                                                    : TextString();
        if (pattern.length() > 0)
            pattern += "|";
        pattern += word;
        cached.prefixes.append(prefix);
        cached.designators.append(designators);
    }
    // The words joined: they may group across the "|" ("(A" and "B){99}").
    // A pattern not used gives no prefixes either, as it does once the file
    // is read again.
    const PatternCheck joined(pattern);
    if (joined.fault()) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
            << "The bufr pattern of " << LogText(path) << " " << joined.fault() << "; not used"
            << std::endl;
        return TextString();
    }
    take();
    if (cached.prefixes.length() > 0) {
        cached.pattern = pattern;
        patternCache().insert(fileName, cached);
    }
    QEV_LOG(LogStream::DEBUG, "BufrDecoder") << "BUFR Pattern [" << LogText(pattern) << "]"
                                             << std::endl;
    return pattern;
}

void BufrDecoder::initDesignators(const TextString& prefix, const TextString& designatorPattern)
{
    if (_designatorDict.find(prefix))
        return;
    QEV_LOG(LogStream::DEBUG, "BufrDecoder")
        << "BufrDecoder:dataFormatCode = " << LogText(designatorPattern) << std::endl;
    QEV_LOG(LogStream::DEBUG, "BufrDecoder") << "BufrDecoder:designator     = " << LogText(prefix)
                                             << std::endl;
    const PatternCheck check(designatorPattern);
    if (check.fault()) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
            << "Regional designator pattern " << LogText(designatorPattern) << " for WMO code "
            << LogText(prefix) << " " << check.fault() << "; not stored in dictionary."
            << std::endl;
        return;
    }
    // Compiled in place: a regex_t is never copied once compiled.
    regex_t* compiled = new (std::nothrow) regex_t;
    if (!compiled) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
            << "problem in RegularExp(" << LogText(prefix) << " ) initialization." << std::endl;
        return;
    }
    if (regcomp(compiled, designatorPattern.c_str(), REG_EXTENDED) != 0) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
            << "Error in regional designator pattern: " << LogText(designatorPattern)
            << " for WMO code " << LogText(prefix) << " not stored in dictionary." << std::endl;
        delete compiled;
        return;
    }
    QEV_LOG(LogStream::DEBUG, "BufrDecoder") << "Adding " << LogText(prefix) << " to dictionary."
                                             << std::endl;
    _designatorDict.insert(prefix, compiled);
}

const regex_t* BufrDecoder::designatorPattern(const TextString& prefix) const
{
    void* compiled = nullptr;
    return _designatorDict.find(prefix, nullptr, &compiled) ? static_cast<regex_t*>(compiled)
                                                            : nullptr;
}

bool BufrDecoder::matchPattern(const TextString& text, const regex_t* pattern)
{
    return pattern && regexec(pattern, text.c_str(), 0, nullptr, 0) == 0;
}

TextString BufrDecoder::upperCaseLetters(const TextString& text)
{
    std::string letters;
    for (const char* p = text.c_str(); *p; ++p) {
        if (*p >= 'A' && *p <= 'Z')
            letters += *p;
    }
    return TextString(letters.c_str());
}

// ---------------------------------------------------------------------------
// netCDF template

Dict<TextString, TextString> BufrDecoder::readTemplateDict(const TextString& templatePath,
                                                           const TextString& attributeName)
{
    Dict<TextString, TextString> dict;
    NcError errorMode(NcError::verbose_nonfatal);
    NcFile file(templatePath.c_str(), NcFile::ReadOnly);
    if (!file.is_valid()) {
        // The C++ file object keeps no reason for a failed open: the C open,
        // tried again, gives it (the system's error for a system failure).
        int ncid = -1;
        int status = nc_open(templatePath.c_str(), NC_NOWRITE, &ncid);
        if (status == NC_NOERR) {
            nc_close(ncid);
            status = NC_ENOTNC;
        }
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
            << "Unable to open " << LogText(templatePath) << ", " << nc_strerror(status)
            << unsetNote("QEV_DATA") << std::endl;
        return dict;
    }
    for (int i = 0; i < file.num_vars(); ++i) {
        NcVar* variable = file.get_var(i);
        SeqOf<TextString> tokens;
        if (!variable || !variable->is_valid() ||
            !findAttributeTokens(variable, attributeName, tokens))
            continue;
        const SeqOf<TextString>& names = tokens;
        for (int t = 0; t < names.length(); ++t)
            dict.insert(names[t], TextString(variable->name()));
    }
    file.close();
    return dict;
}

bool BufrDecoder::findAttributeTokens(NcVar* variable, const TextString& attributeName,
                                      SeqOf<TextString>& tokens)
{
    for (int i = 0; i < variable->num_atts(); ++i) {
        NcAtt* attribute = variable->get_att(i);
        if (!attribute)
            continue;
        if (!attribute->is_valid()) {
            delete attribute;
            continue;
        }
        QEV_LOG(LogStream::DEBUG, "BufrDecoder")
            << "Searching var:" << LogText(variable->name()) << ", attr: "
            << LogText(attribute->name()) << " for " << LogText(attributeName) << std::endl;
        bool wanted = attributeName == TextString(attribute->name());
        if (wanted)
            tokens = getAttributeTokens(attribute);
        delete attribute;
        if (wanted && tokens.length() > 0) {
            if (!LogStream::startMessage(LogStream::instance(), LogStream::DEBUG, "BufrDecoder",
                                         __LINE__, false)) {
                const SeqOf<TextString>& found = tokens;
                LogStream::instance() << "Found";
                for (int t = 0; t < found.length(); ++t)
                    LogStream::instance() << " " << LogText(found[t]);
                LogStream::instance() << std::endl;
                LogStream::endMessage(LogStream::instance());
            }
            return true;
        }
    }
    return false;
}

SeqOf<TextString> BufrDecoder::getAttributeTokens(NcAtt* attribute)
{
    NcValues* values = attribute->values();
    if (!values)
        return SeqOf<TextString>();
    if (logOn(LogStream::DEBUG, "BufrDecoder")) {
        std::ostringstream text;
        text << *values;
        QEV_LOG(LogStream::DEBUG, "BufrDecoder") << "ncValue = " << LogText(text.str())
                                                 << std::endl;
    }
    SeqOf<TextString> tokens = getTokens(values);
    delete values;
    return tokens;
}

// "PRESSURE|HEIGHT " names two elements; trailing blanks are not part of a
// name, and empty fields name nothing.
SeqOf<TextString> BufrDecoder::getTokens(const NcValues* values)
{
    SeqOf<TextString> tokens;
    if (!values)
        return tokens;
    char* chars = values->as_string(0);
    TextString text(chars ? chars : "");
    delete[] chars;
    QEV_LOG(LogStream::EVENT, "BufrDecoder") << "BufrDecoder::getTokens()" << LogText(text)
                                             << std::endl;
    StringTokenizer tokenizer(text, "|", false);
    for (TextString token = tokenizer.nextToken(); token.length() > 0;
         token = tokenizer.nextToken()) {
        token.stripTrailingBlanks();
        if (token.length() > 0)
            tokens.append(token);
    }
    return tokens;
}

bool BufrDecoder::lookupElementName(int descriptor, TextString& variableName,
                                    const Dict<TextString, TextString>& templateDict)
{
    TableBEntry entry;
    TextString name;
    if (!StaticBufrInfo::instance()->getTableBEntry(descriptor, entry) ||
        !templateDict.find(entry.getDescription(), nullptr, &name))
        return false;
    variableName = name;
    return true;
}

bool BufrDecoder::printDict(const Dict<TextString, TextString>& templateDict)
{
    QEV_LOG(LogStream::VERBOSE, "BufrDecoder") << "BufrDecoder::printDict()" << std::endl;
    templateDict.sort();
    for (int i = 0; i < templateDict.count(); ++i) {
        QEV_LOG(LogStream::VERBOSE, "BufrDecoder")
            << i << ") Attr: \"" << LogText(templateDict.key(i)) << "\"; "
            << "Netcdf VarName: " << LogText(templateDict.value(i)) << std::endl;
    }
    return true;
}

// ---------------------------------------------------------------------------
// The read position

void BufrDecoder::setReadRegion(const unsigned char* data, unsigned octets)
{
    _dataPtr = data;
    _dataEnd = data ? data + octets : nullptr;
    _bitOffset = 0;
    _readFailed = false;
}

long BufrDecoder::bitsLeft() const
{
    if (!_dataPtr || !_dataEnd || _dataPtr > _dataEnd)
        return 0;
    long bits = static_cast<long>(_dataEnd - _dataPtr) * 8 - _bitOffset;
    return bits > 0 ? bits : 0;
}

bool BufrDecoder::checkRead(long bits, const char* what)
{
    if (bits >= 0 && bits <= bitsLeft())
        return true;
    if (!_readFailed && !_quietReads) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
            << what << " of " << bits << " bits with " << bitsLeft()
            << " bits left in the data section" << std::endl;
    }
    _readFailed = true;
    return false;
}

bool BufrDecoder::advanceBits(int n)
{
    if (!checkRead(n, "Advance"))
        return false;
    int total = _bitOffset + n;
    _dataPtr += total / 8;
    _bitOffset = total % 8;
    return true;
}

bool BufrDecoder::advanceOctets(int n)
{
    if (!checkRead(8L * n, "Advance"))
        return false;
    _dataPtr += n;
    return true;
}

bool BufrDecoder::takeBitsChecked(int n, uint64_t& value)
{
    value = 0;
    if (n == 0)
        return true;
    if (!fieldFits(n, 64))
        return false;
    value = bitsAt(n);
    int total = _bitOffset + n;
    _dataPtr += total / 8;
    _bitOffset = total % 8;
    return true;
}

namespace {

// The answers logOn gave since the log filters last changed: a decoder asks
// the same few questions for every message (and the storing code for every
// sounding), and an answer kept costs a comparison where asking the log
// stream costs its lock, the filter table's look-up and, for a category
// that is on, an empty message.  Main thread only, as decoding is.
struct LogAnswer {
    int category;
    std::string source;
    bool on;
};

struct LogAnswers {
    unsigned generation = 0;
    std::vector<LogAnswer> answers;
};

LogAnswers& logAnswers()
{
    static LogAnswers* const answers = new LogAnswers;
    return *answers;
}

bool askLogStream(int category, const char* sourceFile)
{
    // A message started and ended without text writes nothing.
    if (LogStream::startMessage(LogStream::instance(), category, sourceFile, __LINE__, false))
        return false;
    LogStream::endMessage(LogStream::instance());
    return true;
}

} // namespace

bool BufrDecoder::logOn(int category, const char* sourceFile)
{
    if (!sourceFile)
        sourceFile = "";
    LogAnswers& kept = logAnswers();
    const unsigned generation = LogStream::filterGeneration();
    if (generation != kept.generation) {
        kept.answers.clear();
        kept.generation = generation;
    }
    for (const LogAnswer& a : kept.answers)
        if (a.category == category && a.source == sourceFile)
            return a.on;
    const bool on = askLogStream(category, sourceFile);
    // Asking may itself change the filters (the first message reads the
    // preference file): such an answer is not kept.
    if (LogStream::filterGeneration() == generation && kept.answers.size() < 64)
        kept.answers.push_back(LogAnswer{category, sourceFile, on});
    return on;
}

bool BufrDecoder::fieldFits(int n, int maxBits)
{
    if (n < 1 || n > maxBits) {
        if (!_readFailed && !_quietReads) {
            QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
                << "Bit field width " << n << " cannot be read" << std::endl;
        }
        _readFailed = true;
        return false;
    }
    return checkRead(n, "Read");
}

uint64_t BufrDecoder::bitsAt(int n) const
{
    if (n <= 32)
        return extractBits(_dataPtr, _bitOffset, n);
    int high = n - 32;
    int next = _bitOffset + high;
    return (uint64_t(extractBits(_dataPtr, _bitOffset, high)) << 32) |
           extractBits(_dataPtr + next / 8, next % 8, 32);
}

// ---------------------------------------------------------------------------
// Bit fields

int BufrDecoder::getBits(int n)
{
    if (n == 0 || !fieldFits(n, 32))
        return 0;
    return static_cast<int>(static_cast<uint32_t>(bitsAt(n)));
}

int BufrDecoder::getSignedBits(int n)
{
    if (!fieldFits(n, 32))
        return 0;
    int value = toSigned(bitsAt(n), n);
    if (_bitOffset + n < 16 && _bitOffset + n != 8) {
        QEV_LOG(LogStream::DEBUG, "BufrDecoder") << "value after last bits = " << value
                                                 << std::endl;
    }
    return value;
}

int BufrDecoder::readSignedBits(int n)
{
    if (!fieldFits(n, 32))
        return 0;
    int value = getSignedBits(n);
    advanceBits(n);
    return value;
}

int BufrDecoder::getRefValue(int n)
{
    if (!fieldFits(n, 32))
        return 0;
    uint64_t bits = bitsAt(n);
    int magnitude = static_cast<int>(bits & ((uint64_t(1) << (n - 1)) - 1));
    int value = ((bits >> (n - 1)) & 1) ? -magnitude : magnitude;
    advanceBits(n);
    if (_compressed && fieldFits(NBINC, NBINC)) {
        int width = static_cast<int>(bitsAt(NBINC));
        advanceBits(NBINC);
        if (width > n) {
            if (!_quietReads)
                QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
                    << "Increment width " << width << " of a new reference value is wider than "
                    << "its " << n << " bits" << std::endl;
            _readFailed = true;
            return 0;
        }
        if (width != 0 && fieldFits(width, 32)) {
            const int64_t sum = int64_t(value) + static_cast<int64_t>(bitsAt(width));
            if (sum > INT32_MAX) {
                if (!_quietReads)
                    QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
                        << "New reference value " << sum << " does not fit 32 bits" << std::endl;
                _readFailed = true;
                return 0;
            }
            value = static_cast<int>(sum);
            advanceBits(width * (_subsets > 0 ? _subsets : 1));
        }
    }
    QEV_LOG(LogStream::DEBUG, "BufrDecoder")
        << "In getRefValue, on return, bit position = " << _bitOffset << std::endl;
    return value;
}

// ---------------------------------------------------------------------------
// Element values

float BufrDecoder::scaledValue(int64_t coded, int reference, int scale)
{
    return static_cast<float>(static_cast<double>(coded + reference) / std::pow(10.0, scale));
}

float BufrDecoder::getValue(int descriptor, TextString& charValue)
{
    charValue = TextString();
    int scale = 0;
    int reference = 0;
    int width = 0;
    if (!StaticBufrInfo::instance()->getTableBCoding(descriptor, scale, reference, width)) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
            << "Code " << descriptor << " does not exist in table B." << std::endl;
        return NOT_IN_TABLE_B;
    }

    long tableWidth = 0;
    if (StaticBufrInfo::instance()->isCharacterElement(descriptor, tableWidth)) {
        float value = CHARACTER_VALUE;
        charValue = getCharacters(width, value);
        advanceOctets(width / 8);
        return value;
    }
    uint64_t raw = 0;
    if (width == 0 || !takeBits(width, raw))
        return MISSING_VALUE;
    return isMissing(descriptor, raw, width)
               ? MISSING_VALUE
               : scaledValue(static_cast<int64_t>(raw), reference, scale);
}

TextString BufrDecoder::getCharacters(int widthBits, float& value)
{
    value = CHARACTER_VALUE;
    int count = widthBits / 8;
    if (count < 1 || !checkRead(8L * count, "Character read"))
        return TextString();
    std::string chars;
    return characterValue(count, chars);
}

void BufrDecoder::getCharacterString(int& count, TextString& text)
{
    text = TextString();
    if (count < 1 || !checkRead(8L * count, "Character read"))
        return;
    std::string chars;
    const int length = charactersAt(count, chars);
    text = leadingText(chars, length);
}

int BufrDecoder::charactersAt(int count, std::string& chars) const
{
    if (count < 1)
        return 0;
    chars.resize(static_cast<std::size_t>(count));
    copyCharacters(_dataPtr, _bitOffset, count, &chars[0]);
    // The text ends at the first NUL; all ones before it is missing (a
    // missing text padded with NULs, as some encoders write it).
    const char* const text = chars.data();
    const void* nul = std::memchr(text, 0, static_cast<std::size_t>(count));
    const int length = nul ? static_cast<int>(static_cast<const char*>(nul) - text) : count;
    for (int i = 0; i < length; ++i) {
        if (static_cast<unsigned char>(text[i]) != 0xFF)
            return length;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Text and descriptor helpers

TextString BufrDecoder::extractCharacters(const unsigned char* data, int bitOffset, int count)
{
    if (count < 1)
        return TextString();
    std::string chars(static_cast<size_t>(count), '\0');
    copyCharacters(data, bitOffset, count, &chars[0]);
    return TextString(chars.data(), count);
}

int BufrDecoder::splitDescriptor(int descriptor, int& x, int& y)
{
    x = (descriptor / 1000) % 100;
    y = descriptor % 1000;
    return descriptor / 100000;
}

bool BufrDecoder::isDelayedReplicator(int descriptor)
{
    int x = 0;
    int y = 0;
    splitDescriptor(descriptor, x, y);
    if (x != 31 || y >= 3)
        return false;
    QEV_LOG(LogStream::VERBOSE, "BufrDecoder")
        << "Descriptor [" << descriptor << "] is a delayed replicator." << std::endl;
    return true;
}

// ---------------------------------------------------------------------------
// Octets

unsigned char BufrDecoder::getOctet(const unsigned char* section, int i)
{
    return section[i];
}

int BufrDecoder::readBigEndian2(const unsigned char* p)
{
    return (p[0] << 8) | p[1];
}

int BufrDecoder::readBigEndian3(const unsigned char* p)
{
    return (p[0] << 16) | (p[1] << 8) | p[2];
}

int BufrDecoder::readBigEndian4(const unsigned char* p)
{
    return static_cast<int>((uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) |
                            (uint32_t(p[2]) << 8) | p[3]);
}

int BufrDecoder::readBigEndian6(const unsigned char* p)
{
    return readBigEndian4(p + 2);
}

int BufrDecoder::readSignedBigEndian2(const unsigned char* p)
{
    return static_cast<signed char>(p[0]) * 256 + p[1];
}

void BufrDecoder::writeBigEndian2(int value, unsigned char* p)
{
    p[0] = static_cast<unsigned char>((value >> 8) & 0xFF);
    p[1] = static_cast<unsigned char>(value & 0xFF);
}

void BufrDecoder::writeBigEndian4(int value, unsigned char* p)
{
    uint32_t v = static_cast<uint32_t>(value);
    for (int i = 3; i >= 0; --i, v >>= 8)
        p[i] = static_cast<unsigned char>(v & 0xFF);
}

double BufrDecoder::readNativeDouble(const unsigned char* p)
{
    double d = 0.0;
    std::memcpy(&d, p, sizeof d);
    return d;
}

unsigned char* BufrDecoder::copyOctets(const unsigned char* p, int n)
{
    if (n < 0)
        return nullptr;
    unsigned char* copy = new (std::nothrow) unsigned char[static_cast<size_t>(n) + 8]();
    if (copy)
        std::memcpy(copy, p, static_cast<size_t>(n) + 1);
    return copy;
}

float BufrDecoder::readHalfFloat(const unsigned char* p)
{
    int e = (p[0] & 0x7C) >> 2;
    int m = (p[0] & 3) * 256 + p[1];
    double v = e != 0 ? (1.0 + m / 1024.0) * std::ldexp(1.0, e - 16) : m * std::ldexp(1.0, -9);
    return static_cast<float>((p[0] & 0x80) ? -v : v);
}
