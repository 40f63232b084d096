// Module 0, types 5 and 8: a data stream for the comms router from a sender
// outside the system: key, product id, length, then the bytes standing raw
// in the rest of the body (no count, no padding).  Nothing in the system
// sends it, so this class only reads one.
#ifndef DSMSG_H
#define DSMSG_H

class TextString;

class DSMsg {
public:
    enum { TYPE = 5, OTHER_TYPE = 8 };

    // Reads key, product id and length within [body, end) and returns the
    // position of the raw bytes.  Null (logged) when the fields do not fit,
    // or when the length is negative or larger than what remains of the
    // body.
    static char* quantize(char* body, const char* end, TextString& key, long& productId,
                          long& length);
};

#endif
