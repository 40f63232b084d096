// Time-stamp file names: a directory, "/", a prefix, the UTC time as
// "%Y%m%d_%H%M" (or "%Y%m%d_%H%M%S" while dmFileNameSeconds is set) and a
// suffix.  A static product file has the file time 1, whose stamp
// 19700101_000001 is the only stamp of 1970 that is accepted.
//
// Messages are logged under the source name "dmDataAccessFns".  Main thread
// only.
#ifndef DMFILETIMES_H
#define DMFILETIMES_H

#include "AbsTime.h"
#include "SeqOf.h"
#include "TextString.h"

// Seconds form for new names; false at start (every name made carries minutes).
extern bool dmFileNameSeconds;

// directory + "/" + prefix + stamp of the time + suffix (the directory as
// given: a trailing "/" gives a doubled one).
TextString dmMakeTimeFileName(const TextString& directory, AbsTime time, const TextString& prefix,
                              const TextString& suffix);

// Reads a stamp at the start of the text (what follows it is ignored).  On
// success sets the time and returns true; otherwise the time is 0.
bool dmParseTimeStamp(const TextString& text, AbsTime& time);

// The time of a path whose base name holds a stamp (prefix and suffix
// allowed); false, logged, when it holds none.
bool dmFileNameTime(const TextString& path, AbsTime& time);

// A new sequence (the caller deletes it; never null) of the times of the
// entries of the directory named prefix + stamp + suffix, newest first.
SeqOf<AbsTime>* dmFileTimes(const TextString& directory, const TextString& prefix,
                            const TextString& suffix);

#endif
