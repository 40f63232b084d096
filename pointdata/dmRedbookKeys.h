// Placement of Redbook graphic files.
//
// A Redbook graphic file's base name begins with its six-character product
// name and holds a time stamp.  The products are the keys of the data-access
// dictionary in the thousand-group of the key named "Redbook graphic master
// key", each named by the first six characters of its key name.
//
// Messages are logged under the source name "dmDataAccessFns".  Main thread
// only.
#ifndef DMREDBOOKKEYS_H
#define DMREDBOOKKEYS_H

#include "DataAccessKey.h"
#include "DataTime.h"
#include "TextString.h"

// Maps the file at path to its product's key, the data time it is filed
// under (the bin start of its file time) and the free path newPath in the
// key's data directory that it is to be stored at.  When that name is
// taken, the files stored within half an interval (at most 1800 seconds)
// before it are first moved one minute earlier, oldest first, never onto
// another file.
//
// True when key, time and newPath are set and nothing lies at newPath.
// False when the file holds no time or names no product, when the key's
// record or QEV_DATA is missing, or when newPath could not be freed (then
// key, time and newPath are set all the same, and the caller must not
// write there).  key is set as soon as the product is known, time once the
// key's record is read.
bool dmRedbookKeys(const TextString& path, DataAccessKey& key, DataTime& time,
                   TextString& newPath);

#endif
