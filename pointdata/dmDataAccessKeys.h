// Keys of the data-access dictionary by use: the fixed keys of well-known
// products, keys chosen by the name of a data source, and keys found by their
// key name within a group of keys (the keys that share key / 1000).
//
// Messages are logged under the source name "dmDataAccessFns".  Main thread
// only.
#ifndef DMDATAACCESSKEYS_H
#define DMDATAACCESSKEYS_H

#include "DataAccessKey.h"
#include "TextString.h"

// Fixed keys, each named after its value.
inline DataAccessKey dmKey73() { return 73; }
inline DataAccessKey dmKey75() { return 75; }
inline DataAccessKey dmKey78() { return 78; }
inline DataAccessKey dmKey81() { return 81; }
inline DataAccessKey dmKey83() { return 83; }
inline DataAccessKey dmKey84() { return 84; }
inline DataAccessKey dmKey85() { return 85; }
inline DataAccessKey dmKey86() { return 86; }
inline DataAccessKey dmKey87() { return 87; }
inline DataAccessKey dmKey88() { return 88; }
inline DataAccessKey dmKey89() { return 89; }
inline DataAccessKey dmKey90() { return 90; }
inline DataAccessKey dmKey91() { return 91; }
inline DataAccessKey dmKey92() { return 92; }
inline DataAccessKey dmKey93() { return 93; }
inline DataAccessKey dmKey94() { return 94; }
inline DataAccessKey dmKey96() { return 96; }
inline DataAccessKey dmKey97() { return 97; }
inline DataAccessKey dmKey98() { return 98; }
inline DataAccessKey dmKey99() { return 99; }
inline DataAccessKey dmKey200() { return 200; }
inline DataAccessKey dmKey310() { return 310; }
inline DataAccessKey dmKey311() { return 311; }
inline DataAccessKey dmKey312() { return 312; }
inline DataAccessKey dmKey315() { return 315; }
inline DataAccessKey dmKey325() { return 325; }
inline DataAccessKey dmKey410() { return 410; }
inline DataAccessKey dmKey411() { return 411; }
inline DataAccessKey dmKey412() { return 412; }
inline DataAccessKey dmKey415() { return 415; }
inline DataAccessKey dmKey425() { return 425; }
inline DataAccessKey dmKey9000() { return 9000; }
inline DataAccessKey dmKey9001() { return 9001; }
inline DataAccessKey dmKey10005() { return 10005; }
inline DataAccessKey dmKey11001() { return 11001; }
inline DataAccessKey dmKey11032() { return 11032; }

// Keys by data-source name: the source name is compared whole and
// case-sensitively with two names; 0 when it is neither.
DataAccessKey dmModelSourceKey(const TextString& source); // "ETA" 10001, "AVN" 10002
DataAccessKey dmSourceKey420(const TextString& source);   // "VXD" 420, "PZT" 421
DataAccessKey dmSourceKey320(const TextString& source);   // "VXD" 320, "PZT" 321
DataAccessKey dmSourceKey450(const TextString& source);   // "VXD" 450, "LOCAL" 451
DataAccessKey dmSourceKey350(const TextString& source);   // "VXD" 350, "LOCAL" 351
DataAccessKey dmSourceKey401(const TextString& source);   // "VXD" 401, "PZT" 402
DataAccessKey dmSourceKey301(const TextString& source);   // "VXD" 301, "PZT" 302

// The key of the group of dmKey11001 (11000 to 11999), or of dmKey9000 (9000
// to 9999), whose key name is the name; 0 when none is.  Each group's names
// are read from the dictionary once, at the first call, and kept to the end
// of the process (a later key with the same name wins).
DataAccessKey dmKeyByName11000(const TextString& name);
DataAccessKey dmKeyByName9000(const TextString& name);

#endif
