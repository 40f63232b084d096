// The abstract base of every data-type decoder of the process.
//
// It holds the state of the one message being decoded, the value readers of
// the data section, and the decoders' supporting operations: the pattern file
// that names the products a decoder wants (with the regional designators
// allowed per file-name prefix), the netCDF template reader that maps BUFR
// element names to variable names, and small text helpers.  The first decoder
// constructed in the process loads the BUFR tables (StaticBufrInfo).
//
// A decoder decodes one message at a time: the message, its read position
// and the operators in force are its own; the BUFR tables are process-wide,
// and decoding never changes them.
//
// The read position over a data section
// -------------------------------------
// setReadRegion (data, octets) starts reading at data, bit 0, and bounds
// every read at data + octets.  The position is _dataPtr (current octet) and
// _bitOffset (leading bits of it already consumed, 0..7); bits are taken most
// significant first.  A read or advance that would pass the end, or a width
// the readers cannot take, reads nothing and moves nothing: it logs one
// PROBLEM line, sets the sticky readFailed() flag (cleared only by the next
// setReadRegion) and yields 0, -99999.0 or the empty text.  The walkers check
// readFailed() after each element and fail the data section when it is set.
#ifndef BUFRDECODER_H
#define BUFRDECODER_H

#include <cstdint>
#include <cstring>
#include <regex.h>
#include <string>

#include "AbsTime.h"
#include "BufrValues.h"
#include "Dict.h"
#include "SeqOf.h"
#include "Set.h"
#include "TextString.h"

class DescriptorTree;
class DescriptorTreeCache;
class DescriptorWalker;
class NcAtt;
class NcValues;
class NcVar;

class BufrDecoder {
    // The data walker and the operators read and fill the message state.
    friend class DataDescOps;
    friend class DescriptorWalker;

public:
    // Special values of decoded elements.
    static const float MISSING_VALUE;        // -99999.0: all bits set, or width 0
    static const float NOT_IN_TABLE_B;       // 99999.0
    static const float CHARACTER_VALUE;      // -99999.9: the text travels apart
    // Width of the increment-width field of compressed data.
    static const int NBINC = 6;

    BufrDecoder();
    virtual ~BufrDecoder();
    BufrDecoder(const BufrDecoder&) = delete;
    BufrDecoder& operator=(const BufrDecoder&) = delete;

    // The wait for a data message, in tenths of a second.
    virtual int getTimeout() const = 0;
    virtual TextString getPatternFileName() const = 0;
    virtual TextString getDataTypeName() const = 0;
    // Decodes and stores every file of the decoder's input directory.
    virtual void processBufrDirectory() = 0;
    virtual bool preProcess();
    // 1 stored (unlink the file), 0 nothing to store, other values failure.
    virtual int write2NetcdfFile();
    virtual bool sendNotification();

    // Decodes one BUFR message (sections 0 to 5, editions 2 to 4) into
    // _obTime, _dataCategory, _subsets, _compressed, _descriptors,
    // _repCountList (every delayed replication factor, subset by subset) and
    // _decodedValues (subset by subset; no value for a factor).  The message
    // is looked for from octet `from` of the buffer (a later message of a
    // file read whole); every octet the lines name, messageStart and
    // nextMessage count from the buffer's start.  Of a file of several
    // messages the first is decoded, nextMessage says where the next
    // begins, and a PROBLEM line says that more follow (none for a caller
    // that reads them all).  False after PROBLEM lines naming the reason;
    // the values are then empty, except for a data section of no subsets at
    // all, which leaves the six time values of section 1.  Every operator
    // change ends with its message.
    //
    // A message is read only when its frame is whole (frameIsWhole): its
    // declared end (the total length of section 0) lies within the buffer
    // with "7777" as its last four octets, its sections 1 to 4 end exactly
    // there, and no other message (a whole frame) begins inside it.
    // Anything else is refused with one PROBLEM line saying why ("Message
    // of 2,410 octets declared is cut short: another message begins at
    // octet 1,872"), and nothing of it is read: not one octet past its
    // declared end, nor the octets of another message.  It is read only
    // when its data is read whole as well: a data section whose octets
    // after the last subset hold one more subset (its subset count short of
    // the subsets given) is refused with a line naming the octets left
    // unread; any other octets there are padding.
    bool decode(const void* buffer, unsigned size, unsigned from = 0);
    // The octet of the buffer given to decode where the next message's
    // "BUFR" begins; -1 when none follows.  It is searched from the declared
    // end of a message whose frame is whole (also when its content did not
    // decode), and from the octet after the "BUFR" of one whose frame was
    // refused, so that a message beginning inside or behind a refused one
    // is found.
    long nextMessage() const { return _nextMessage; }
    // The octet of the buffer given to decode where the message's "BUFR"
    // begins; -1 when there was none.
    long messageStart() const { return _messageStart; }
    // The whole octets the last message's data section held after its last
    // subset (after none, of a message that declares none), once every
    // subset was read; 0 when it held none or was not read that far.
    long octetsAfterSubsets() const { return _octetsAfterSubsets; }
    // Whether those octets held the data of subsets the message does not
    // count (one more, or any of a message that declares none), so that
    // the message was refused; they are padding otherwise.
    bool moreSubsetsLeft() const { return _moreSubsetsLeft; }
    // Whether the last message's frame was whole (its sections were read);
    // false for a frame refused, an edition not read, and no message.
    bool frameWhole() const { return _frameWhole; }
    // Why the last decode failed: the reason a refused frame gave (Message
    // of 2,410 octets declared does not end in "7777"), else the words of
    // the last PROBLEM line ("Failed to decode Section 1"); empty after a
    // success.
    const TextString& decodeFailure() const { return _decodeFailure; }

    // The values of the last message; empty (with a PROBLEM line) unless
    // that message was decoded through section 4.
    SeqOf<BufrValues>& getDecodedValues();

    // Pattern file and regional designators.
    TextString getBufrPattern();
    void initDesignators(const TextString& prefix, const TextString& designatorPattern);
    // The compiled designator expression of a prefix, or null.
    const regex_t* designatorPattern(const TextString& prefix) const;
    static bool matchPattern(const TextString& text, const regex_t* pattern);

    // netCDF template: element name -> variable name.
    static Dict<TextString, TextString> readTemplateDict(const TextString& templatePath,
                                                         const TextString& attributeName);
    static bool lookupElementName(int descriptor, TextString& variableName,
                                  const Dict<TextString, TextString>& templateDict);
    static SeqOf<TextString> getTokens(const NcValues* values);
    static SeqOf<TextString> getAttributeTokens(NcAtt* attribute);
    static bool findAttributeTokens(NcVar* variable, const TextString& attributeName,
                                    SeqOf<TextString>& tokens);
    static bool printDict(const Dict<TextString, TextString>& templateDict);
    static TextString upperCaseLetters(const TextString& text);

    // True when the first decoder's table load succeeded.
    static bool tablesLoaded();

    // ---- The read position (see the header comment) ----
    void setReadRegion(const unsigned char* data, unsigned octets);
    bool readFailed() const { return _readFailed; }
    // True while the data walker looks whether the octets left after the
    // last subset hold one more: a read that fails then writes no line.
    bool quietReads() const { return _quietReads; }
    // Bits from the read position to the end of the region.
    long bitsLeft() const;
    bool advanceBits(int n);
    bool advanceOctets(int n);
    // The next n (0..64) bits as an unsigned number, then advance over them;
    // false (the read error logged and flagged) when they pass the end.
    bool takeBits(int n, uint64_t& value)
    {
        // Eight octets ahead hold any field of up to 56 bits.
        if (n > 0 && n <= 56 && _dataEnd - _dataPtr >= 8) {
            const uint64_t word = readBigEndian8(_dataPtr);
            value = (word << _bitOffset) >> (64 - n);
            const int total = _bitOffset + n;
            _dataPtr += total >> 3;
            _bitOffset = total & 7;
            return true;
        }
        return takeBitsChecked(n, value);
    }

    // Whether a message of the category from the source file would be
    // written now.  Asking writes nothing; an answer is kept until the log
    // filters change (LogStream::filterGeneration), so asking again is a
    // comparison or two.
    static bool logOn(int category, const char* sourceFile);

    // ---- Bit fields ----
    // The next n bits (1..32) as an unsigned number, without advancing.
    int getBits(int n);
    // The same as two's complement, without advancing.
    int getSignedBits(int n);
    // getSignedBits, then advance.
    int readSignedBits(int n);
    // A new reference value of n bits (operator 2 03 YYY), read as table C
    // writes it: the first bit the sign, the other n - 1 bits the magnitude.
    // In compressed data the increment width and increments that follow it
    // are passed over (the reference is the same in every subset).
    int getRefValue(int n);

    // ---- Element values ----
    // One element in standard form; advances over it.
    float getValue(int descriptor, TextString& charValue);
    // widthBits / 8 characters at the read position as the text of a
    // character element (characterValue); sets value to CHARACTER_VALUE.
    // Does not advance.
    TextString getCharacters(int widthBits, float& value);
    // count characters at the read position, cut at the first NUL, empty
    // when every octet before it is 0xFF.  Does not advance.
    void getCharacterString(int& count, TextString& text);

    // The coded-value rules the standard and compressed readers share.
    // Missing: width 0, or all width bits set -- except for class 31 (delayed
    // replication factors, associated field significance, data present
    // indicator), whose all-ones value is a count.
    static bool isMissing(int descriptor, uint64_t raw, int width)
    {
        return isMissing((descriptor / 1000) % 100 == 31, raw, width);
    }
    // The same for an element whose class is known.
    static bool isMissing(bool class31, uint64_t raw, int width)
    {
        if (width <= 0)
            return true;
        if (class31)
            return false;
        const uint64_t ones = width >= 64 ? ~uint64_t(0) : (uint64_t(1) << width) - 1;
        return (raw & ones) == ones;
    }
    static float scaledValue(int64_t coded, int reference, int scale);

    // ---- Text and descriptor helpers ----
    static TextString extractCharacters(const unsigned char* data, int bitOffset, int count);
    static int splitDescriptor(int descriptor, int& x, int& y);
    static bool isDelayedReplicator(int descriptor);

    // ---- Octets (section lengths, counts) ----
    static unsigned char getOctet(const unsigned char* section, int i);
    static int readBigEndian2(const unsigned char* p);
    static int readBigEndian3(const unsigned char* p);
    static int readBigEndian4(const unsigned char* p);
    // Six octets; the low 32 bits are kept.
    static int readBigEndian6(const unsigned char* p);
    // Eight octets, as one load.
    static uint64_t readBigEndian8(const unsigned char* p)
    {
        uint64_t word = 0;
        std::memcpy(&word, p, 8);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        word = __builtin_bswap64(word);
#endif
        return word;
    }
    // Two octets, the first one signed.
    static int readSignedBigEndian2(const unsigned char* p);
    static void writeBigEndian2(int value, unsigned char* p);
    static void writeBigEndian4(int value, unsigned char* p);
    static double readNativeDouble(const unsigned char* p);
    // n + 1 octets copied into a new zero-filled buffer of n + 8 octets
    // (owned by the caller, delete[]).
    static unsigned char* copyOctets(const unsigned char* p, int n);
    // A 16-bit float: sign 0x80, exponent 0x7C of the first octet, 10 bits
    // of mantissa.
    static float readHalfFloat(const unsigned char* p);

protected:
    // ---- Message decoding (sections 0 to 5) ----
    // Each section reader takes the position of its section and returns the
    // position of the next one, or null after a logged failure.
    const unsigned char* skipHeader(const unsigned char* message);
    const unsigned char* decodeSection0(const unsigned char* message);
    const unsigned char* decodeSection1(const unsigned char* section1);
    const unsigned char* decodeSection2(const unsigned char* section2);
    const unsigned char* decodeSection3(const unsigned char* section3);
    // Returns the position of section 5; ok tells whether section 4 decoded.
    const unsigned char* decodeSection4(const unsigned char* section4, bool& ok);
    // The observation time of the section 1 read last.
    AbsTime getObTime(const unsigned char* section1) const;
    // Why the time of the section 1 read last is no time the system holds
    // (a field out of its range, a year outside 1970 to 2038), in words
    // that follow "Section 1 time "; empty when it is one.
    std::string sectionTimeFault() const;
    static bool isCompressed(const unsigned char* section3);
    // The descriptor of the two octets at _descPtr, which moves past them.
    int readDescriptor();
    // Builds the descriptor tree of the section-3 descriptor octets and fills
    // _descriptors, _replDescList and _nestedRepList; an empty result when
    // the descriptors cannot be expanded, or would expand to more than the
    // dataBits of section 4 (of a message of that many subsets) can hold.
    SeqOf<int> expandDescriptors(const unsigned char* descriptors, long dataBits, int subsets);
    bool decodeStandardData();
    bool decodeCompressedData();
    // _decodedValues becomes the six time values of section 1 (subset 0).
    void addSection1Time();
    void hexDump(const unsigned char* data, int perLine, int start, int count);
    void printDecodedValues();
    void printDescriptors();

    AbsTime _obTime;
    int _dataCategory;
    Set<TextString> _prefixSet;
    Dict<TextString, void*> _designatorDict;    // prefix -> owned regex_t*
    int _numElements;
    SeqOf<int> _descriptors;
    SeqOf<int> _repCountList;
    SeqOf<BufrValues> _decodedValues;
    SeqOf<SeqOf<int> > _replDescList;
    SeqOf<SeqOf<int> > _nestedRepList;
    // The data section is read in place, bounded by _dataEnd: it is never
    // copied.
    const unsigned char* _dataPtr;
    const unsigned char* _descPtr;
    bool _optionalSection;
    bool _compressed;
    int _bitOffset;
    int _subsets;
    bool _decodedOk;
    TextString _decodeFailure;
    int _section3Length;
    // One past the last octet of the read region, and the sticky read error.
    const unsigned char* _dataEnd;
    bool _readFailed;
    bool _quietReads = false;

    // The message being decoded: its octets (header included), the octets
    // accepted so far, the edition, the tables, the time of section 1 (four-digit year,
    // month, day, hour, minute, second) and the short-section-4 mark.
    long _messageLength;
    long _consumed;
    int _edition;
    // Section 1's originating centre and master table version: they choose
    // the tables the message is read with.
    int _originatingCentre;
    int _masterTableVersion;
    int _sectionTime[6];
    bool _shortSection4;
    bool _debugLog;
    // Set by a caller that decodes the later messages of a buffer itself.
    bool _readsEveryMessage = false;
    // Set by a caller that counts refused frames itself: a frame refused
    // (or of an edition not read) then writes no line; decodeFailure still
    // says why.
    bool _quietRefusals = false;
    // Called once the frame of the message being decoded is found whole,
    // before its sections are read, so that a caller that names each
    // message in a line can name it before the message's own lines.
    virtual void frameAccepted() {}
    DescriptorTree* _tree;        // the message's tree, owned by _trees (null before one)
    DescriptorWalker* _walker;    // owned; its buffers serve message after message

private:
    // n (1..maxBits) bits lie inside the read region; otherwise the read
    // error is logged (once) and flagged.
    bool fieldFits(int n, int maxBits);
    // The n (1..64) bits at the read position; fieldFits(n) was true.
    uint64_t bitsAt(int n) const;
    bool checkRead(long bits, const char* what);
    // The count characters at the read position (checkRead passed for
    // them) copied into chars, and the length of their readable text: up
    // to the first NUL, 0 when every octet before it is 0xFF (missing).
    // Does not advance.  The one text extractor of getCharacters,
    // getCharacterString and the data walker.
    int charactersAt(int count, std::string& chars) const;
    // The text of a character element of count octets at the read position
    // (checkRead passed for them), chars its scratch buffer: the whole text
    // up to the first NUL, trailing blanks removed; empty when every octet
    // before that NUL is 0xFF (missing).  The one rule of getCharacters and
    // of the values the data walker decodes, standard and compressed.
    // Inline: the walker makes it for every text it reads.
    TextString characterValue(int count, std::string& chars) const
    {
        int length = charactersAt(count, chars);
        while (length > 0 && chars[static_cast<std::size_t>(length) - 1] == ' ')
            --length;
        return length > 0 ? TextString(chars.data(), length) : TextString();
    }
    // decode without its guard against failed allocations.
    bool decodeMessage(const void* buffer, unsigned size, unsigned from);
    // Whether the message whose section 0 is at section0 (octet _consumed
    // of the buffer) has a whole frame: its declared end within the buffer
    // with "7777" as its last four octets, sections 1 to 4 (section 2 when
    // section 1 flags it) of at least their fields' length ending exactly
    // there, and no other message beginning inside it: no "BUFR" inside
    // its declared end where a whole frame begins (one within that end, or
    // one running past it within the buffer).  Any other "BUFR" in it is
    // its data's.  Then _messageLength becomes that end.  Otherwise the
    // reason is logged and kept in _decodeFailure, and _refusedSection
    // names the section it is about (0: the frame).  At most one pass over
    // the message's octets, up to the first whole frame inside it.
    bool frameIsWhole(const unsigned char* section0);
    // Whether what section 4 holds after the last subset read is padding
    // (the data walker's leftover): anything but the data of one more
    // subset is, whatever its octets.  Otherwise the line naming the octets
    // left unread is logged.  section4End: the octet of the buffer after
    // section 4.
    bool onlyPaddingLeft(long section4End);
    int _refusedSection = 0;
    long _octetsAfterSubsets = 0;
    bool _moreSubsetsLeft = false;
    long _nextMessage = -1;
    long _messageStart = -1;
    bool _frameWhole = false;
    // The memory the values of the last message took.
    long _lastBytesTaken = 0;
    bool takeBitsChecked(int n, uint64_t& value);
    void storeSectionTime(const unsigned char* section1);

    // The trees of the descriptors met so far (owned).
    DescriptorTreeCache* _trees;
    // Whether the EVENT and VERBOSE lines of this file are wanted, asked
    // once per message like _debugLog: the lines of every section cost no
    // log call when nobody reads them.
    bool _eventLog;
    bool _verboseLog;
    // Empty sequences that the message state starts from, shared rather
    // than made anew for every message (a write copies them first).
    SeqOf<int> _noNumbers;
    SeqOf<SeqOf<int> > _noGroups;
};

#endif
