// The paths of a data-access key: its data directory below the data root
// (QEV_DATA), its template files, its data file of a time or its static file,
// and the times of its data files.
//
// Every key-based operation fails, after a PROBLEM line, for a key the
// dictionary does not know ("Error in DM_DataAccessInfo constructor") and,
// unless it is answered by the key's static file, for an unset or empty
// QEV_DATA ("Env var QEV_DATA not defined"): no path is ever built from "/".
// Messages are logged under the source name "dmDataAccessFns".  Main thread
// only.
#ifndef DMDATAPATHS_H
#define DMDATAPATHS_H

#include "AbsTime.h"
#include "DataAccessKey.h"
#include "SeqOf.h"
#include "Set.h"
#include "TextString.h"

class DM_DataAccessInfo;

// The value of QEV_DATA; false (logged) when it is unset or empty.
bool dmDataRoot(TextString& root);
// QEV_DATA + "/" + the record's directory; false (logged) without QEV_DATA.
bool dmDataDirectoryOf(const DM_DataAccessInfo& info, TextString& directory);

// directory + "/" + prefix + "template" + number + suffix, where the number
// is left out when negative and is otherwise written as two digits of
// number modulo 100.
TextString dmMakeTemplateFileName(const TextString& directory, const TextString& prefix,
                                  const TextString& suffix, int number);
// dmMakeTemplateFileName in the key's data directory with its prefix and
// suffix; empty on failure.
TextString dmTemplateFileName(DataAccessKey key, int number);
// QEV_DATA + "/" + the key's directory; empty on failure.
TextString dmDataDirectory(DataAccessKey key);
// The key's data file of the time (dmMakeTimeFileName in its data
// directory), or, with staticFile and both a prefix and a suffix, the path
// of its static file prefix + suffix along the information-file search
// path.  Empty on failure.
TextString dmDataFileName(DataAccessKey key, AbsTime time, bool staticFile = false);
// A new sequence (the caller deletes it) of the times of the key's data
// files, newest first; the one static time 1 with staticFile and both a
// prefix and a suffix.  Null on failure.
SeqOf<AbsTime>* dmKeyFileTimes(DataAccessKey key, bool staticFile = false);
// The same times added to a set; nothing added on failure.
void dmKeyFileTimes(DataAccessKey key, bool staticFile, Set<AbsTime>& times);

#endif
