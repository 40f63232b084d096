// The XDR routines through which every header field, address and argument
// is written into, measured for and read from a message buffer.
//
// For each type:
//   xdrSerialize(value, position) -> the position behind what was written;
//   xdrLength(value)              -> the bytes xdrSerialize writes for it;
//   xdrQuantize(value, position, end) -> the position behind what was read,
//                                    or null when the value cannot be read.
//
// Positions are plain pointers into one message buffer, and composite
// encoders chain them, each call starting where the previous one ended.
//
// Writing: the sender sizes its buffer with xdrLength first; each write is
// held to exactly the bytes xdrLength promises.  A value that cannot be
// written (a long that does not fit the 4 bytes of an XDR long) is logged at
// BUG and writes nothing; xdrLength answers 0 for it, so the buffer size and
// the bytes written still agree.
//
// Reading is bounded by `end`, the end of the received buffer: a value, a
// count or a length that does not fit in the bytes that remain is logged at
// BUG ("... quantize fail") and the routine returns null, reading nothing
// past the buffer and allocating no more than what remains.  A null position
// passes through every routine unchanged and unlogged, so a reader chains
// its calls and tests the last result once:
//     char* p = xdrQuantize(id, body, end);
//     p = xdrQuantize(bytes, p, end);
//     if (!p) { /* drop the message */ }
// A scalar that cannot be read keeps its old value; a string or byte array
// becomes empty.
//
// Every 'long' and 'unsigned long' travels as 4 bytes whatever the width of
// long here: a long is written from its 32-bit value (refused when it does
// not fit) and read back sign-extended; an unsigned long likewise unsigned.
//
// The routines keep no state and may run in any thread.
#ifndef SERIALIZEQUANTIZE_H
#define SERIALIZEQUANTIZE_H

#include "SeqOf.h"

class AbsTime;
class DataTime;
class TextString;
class TimeRange;

char* xdrSerialize(const int& value, char* position);
char* xdrSerialize(const unsigned int& value, char* position);
char* xdrSerialize(const long& value, char* position);
char* xdrSerialize(const unsigned long& value, char* position);
char* xdrSerialize(const unsigned char& value, char* position);
char* xdrSerialize(const char& value, char* position);
char* xdrSerialize(const unsigned short& value, char* position);
char* xdrSerialize(const short& value, char* position);
char* xdrSerialize(const double& value, char* position);
char* xdrSerialize(const float& value, char* position);
char* xdrSerialize(const bool& value, char* position);
char* xdrSerialize(const AbsTime& value, char* position);
char* xdrSerialize(const TimeRange& value, char* position);
char* xdrSerialize(const TextString& value, char* position);
char* xdrSerialize(const SeqOf<char>& value, char* position);
char* xdrSerialize(const SeqOf<unsigned char>& value, char* position);
char* xdrSerialize(const DataTime& value, char* position);

int xdrLength(const int& value);
int xdrLength(const unsigned int& value);
int xdrLength(const long& value);
int xdrLength(const unsigned long& value);
int xdrLength(const unsigned char& value);
int xdrLength(const char& value);
int xdrLength(const unsigned short& value);
int xdrLength(const short& value);
int xdrLength(const double& value);
int xdrLength(const float& value);
int xdrLength(const bool& value);
int xdrLength(const AbsTime& value);
int xdrLength(const TimeRange& value);
int xdrLength(const TextString& value);
int xdrLength(const SeqOf<char>& value);
int xdrLength(const SeqOf<unsigned char>& value);
int xdrLength(const DataTime& value);

char* xdrQuantize(int& value, char* position, const char* end);
char* xdrQuantize(unsigned int& value, char* position, const char* end);
char* xdrQuantize(long& value, char* position, const char* end);
char* xdrQuantize(unsigned long& value, char* position, const char* end);
char* xdrQuantize(unsigned char& value, char* position, const char* end);
char* xdrQuantize(char& value, char* position, const char* end);
char* xdrQuantize(unsigned short& value, char* position, const char* end);
char* xdrQuantize(short& value, char* position, const char* end);
char* xdrQuantize(double& value, char* position, const char* end);
char* xdrQuantize(float& value, char* position, const char* end);
char* xdrQuantize(bool& value, char* position, const char* end);
char* xdrQuantize(AbsTime& value, char* position, const char* end);
// A clear valid flag gives the empty range whatever start and end say.
char* xdrQuantize(TimeRange& value, char* position, const char* end);
char* xdrQuantize(TextString& value, char* position, const char* end);
char* xdrQuantize(SeqOf<char>& value, char* position, const char* end);
char* xdrQuantize(SeqOf<unsigned char>& value, char* position, const char* end);
// Reads the flags form and also the older form without a flags word (a
// first word above 0x3FFF, or without any of the bits 0x2F00, is a
// reference time).
char* xdrQuantize(DataTime& value, char* position, const char* end);

// Several values in order, for the argument packages.
inline char* xdrSerializeAll(char* position)
{
    return position;
}
template <class T, class... Rest>
char* xdrSerializeAll(char* position, const T& value, const Rest&... rest)
{
    return xdrSerializeAll(xdrSerialize(value, position), rest...);
}

inline int xdrLengthAll()
{
    return 0;
}
template <class T, class... Rest>
int xdrLengthAll(const T& value, const Rest&... rest)
{
    return xdrLength(value) + xdrLengthAll(rest...);
}

inline char* xdrQuantizeAll(char* position, const char*)
{
    return position;
}
template <class T, class... Rest>
char* xdrQuantizeAll(char* position, const char* end, T& value, Rest&... rest)
{
    return xdrQuantizeAll(xdrQuantize(value, position, end), end, rest...);
}

#endif
