// Radar access keys: the key of the data-access dictionary that holds a
// radar product at an elevation, with two parameters, from a radar of the
// site, radar ids by name and product codes by message code.
//
// The site's main radar is the one named "knat".  The table of keys is
// built at the first call of dmRadarAccessKeys that finds a template radar
// (radars in use of the two radar types, 88D and TDWR, in
// "radarsInUse.txt"), from the dictionary, "tiltAngleGroups.txt" and
// "tdwrRadars.txt"; radar ids come from "radarInfoMaster.txt" and product
// codes from the radar information dictionary.  All are read once and kept
// to the end of the process.  Messages are logged under the source name
// "dmDataAccessFns".  Main thread only.
#ifndef DMRADARKEYS_H
#define DMRADARKEYS_H

#include "DataAccessKey.h"
#include "TextString.h"

// The key of the product, or 0.  text is handed to dmProductCode.
DataAccessKey dmRadarAccessKeys(const TextString& text, int product, float elevation, int param5,
                                float param4, const TextString& radarName);

// The radar id of a name of "radarInfoMaster.txt" (lines "name number number
// id"; lines that do not read whole are skipped), found as listed and in
// upper case; -1 for another name.
int dmRadarId(const TextString& name);

// The product code (_keltuid) of the radar-information record of the
// message code product; for an unknown one (logged) the number of codes
// known.  text is not used.
int dmProductCode(const TextString& text, int product);

#endif
