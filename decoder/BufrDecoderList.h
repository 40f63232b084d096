// The decoders of one process, made from the data type name of the command
// line.
//
// The data types are a fixed table of keys, tested in this order: model,
// goes, poes, acars, csw, prof, quikscat.  Every key found in the lower-cased
// name (as a plain substring) creates one decoder through the key's factory.
// The program fills the factories (setFactory) before the list is made: the
// decoders live in layers above this one.  A key without a factory creates
// nothing (a PROBLEM line says so).
//
// Each entry keeps the decoder's product-id pattern (its pattern file's
// patterns joined with "|") compiled as an extended expression.  A pattern
// that is empty or does not compile is logged (PROBLEM) and matches no
// product id: the decoder still runs its directory passes, but no data
// message selects it, and its pattern is left out of the data request (an
// empty alternative would ask the data controller for every product).
//
// A decoder whose ingest directory another process holds (a second decoder
// process on the same data tree) ends the building: the list refuses to
// start (ingestHeldElsewhere), as one writer per directory is the rule.
//
// The list owns the decoders and deletes them, with their compiled patterns,
// when it is destroyed at process exit; nothing there logs or writes.
#ifndef BUFRDECODERLIST_H
#define BUFRDECODERLIST_H

#include <regex.h>

#include "SeqOf.h"
#include "TextString.h"

class BufrDecoder;

class BufrDecoderList {
public:
    // Makes one decoder of a data type; null when it cannot.
    typedef BufrDecoder* (*DecoderFactory)();

    struct DecoderObjectInfo {
        TextString pattern;       // the product-id pattern, as read
        regex_t regex;            // pattern compiled (REG_EXTENDED), when compiled
        BufrDecoder* decoder;     // owned by the list
        bool compiled;            // whether regex holds a compiled pattern

        DecoderObjectInfo() : regex(), decoder(nullptr), compiled(false) {}
    };

    BufrDecoderList();
    ~BufrDecoderList();
    BufrDecoderList(const BufrDecoderList&) = delete;
    BufrDecoderList& operator=(const BufrDecoderList&) = delete;

    // Sets the factory of a key of the table (null: the key creates
    // nothing); false for a key not in the table.
    static bool setFactory(const char* key, DecoderFactory factory);
    // The keys that have a factory, in table order, joined with ", ".
    static TextString keys();

    // Lower-cases name in place and creates a decoder for every key found
    // in it, in table order; true when the list then holds an entry and no
    // decoder's ingest directory is held by another process.
    bool createDecoders(TextString& name);
    // Whether the building stopped at a decoder whose ingest directory
    // another process holds.
    bool ingestHeldElsewhere() const { return _ingestHeldElsewhere; }
    // The compiled patterns in list order, joined with "|".
    TextString dataRequestPattern();
    // The smallest time-out of the decoders, in tenths of a second; 0 for
    // an empty list.
    int minTimeout();
    // The first entry whose compiled pattern matches the id, or null.
    DecoderObjectInfo* findDecoder(const TextString& id);
    // The entry at index, or null outside the list.
    DecoderObjectInfo* entry(int index);
    int length() const { return _entries.length(); }
    // One directory pass of every decoder, in list order.
    void processAllDirectories();
    // Whether a decoder's last pass left files for a later pass (see
    // BufrFileDecoder::needsRetry).
    bool needsRetry();
    // The pass again of every decoder that needs one.
    void retryPasses();

    // One directory pass of a decoder, with an exception it let out logged
    // instead of passed on.
    static void processDirectory(BufrDecoder* decoder);

private:
    SeqOf<DecoderObjectInfo> _entries;
    bool _ingestHeldElsewhere;
};

#endif
