// What makes a BUFR message one of the kind a wind or aircraft decoder
// stores: the data category of its section 1, and elements its reports
// give.  A message of another kind (an aircraft message in a satellite wind
// bulletin, a satellite wind message in an aircraft one) is never stored as
// the decoder's kind: the decoder sets the bulletin aside with the reason,
// and its other messages are stored as usual.
//
// A data category of WMO's table A (0 to 101) other than the kind's tells
// another kind; one beyond them (reserved, experimental, "other") says
// nothing, and the message is judged by its elements alone.
#ifndef WINDKINDS_H
#define WINDKINDS_H

#include "BufrValues.h"
#include "ElementForms.h"
#include "SeqOf.h"
#include "TextString.h"

struct MessageKind {
    // An element, or a quantity in any of its forms (ElementForms), that a
    // message of the kind gives (its name in a reason; descriptor 0 for a
    // quantity).
    struct Needed {
        const char* name;
        int descriptor;
        ElementForms::Quantity quantity;
    };
    const char* what;            // "satellite winds"
    int categories[2];           // the kind's data categories, -1 for none
    Needed needs[2];             // null name for none
};

// Why a message of that data category and values is not of the kind (the
// words to set its bulletin aside with); empty when it is.
TextString notOfKind(const MessageKind& kind, int category, const SeqOf<BufrValues>& values);

// A data category as a reason names it: "data category 4 (single level
// upper-air data other than satellite: aircraft)".
TextString dataCategoryText(int category);

#endif
