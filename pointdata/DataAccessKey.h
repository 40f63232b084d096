// The key of a data product in the data-access dictionary: an unsigned
// number of 32 significant bits (it travels as an XDR unsigned long of 4
// bytes), 0 for none.  Radar keys have bit 30 set and the radar id in bits
// 16 to 29.
#ifndef DATAACCESSKEY_H
#define DATAACCESSKEY_H

typedef unsigned long DataAccessKey;

#endif
