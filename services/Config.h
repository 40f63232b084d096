// The process-wide typed configuration, read once from "qev.config".
//
// The file is found along the information-file search path on the first
// Config::instance() call.  Its definition lines ("int = numBytes, numMins")
// give attribute names a type; its assignment lines
// ("SocketBufferSize.numBytes : 65536") store a value under the full name
// (object name, '.', attribute name) in the dictionary of that type.  A
// look-up answers true and copies the value when the full name is present,
// else false with the caller's variable untouched.  Names and type words are
// compared exactly and case-sensitively.  Faulty lines are logged and
// skipped; nothing in the file stops the reading.
#ifndef CONFIG_H
#define CONFIG_H

#include "CartCoord2D.h"
#include "CartDomain2D.h"
#include "Dict.h"
#include "SeqOf.h"
#include "TextString.h"

class Config {
public:
    // The singleton, built from "qev.config" on the first call.  Never null
    // unless the object could not be made (logged).
    static Config* instance();
    // The same; before the first build an empty fileName becomes
    // "qev.config", and the path the search finds replaces it.  Once the
    // singleton exists the argument is left alone.
    static Config* instance(TextString& fileName);

    // Reads the named file (along the search path).
    explicit Config(const TextString& fileName);
    Config(const Config&) = delete;
    Config& operator=(const Config&) = delete;

    bool getValue(const TextString& name, TextString& value) const;
    bool getValue(const TextString& name, SeqOf<TextString>& value) const;
    bool getValue(const TextString& name, CartCoord2D<float>& value) const;
    bool getValue(const TextString& name, CartCoord2D<int>& value) const;
    bool getValue(const TextString& name, SeqOf<CartCoord2D<float> >& value) const;
    bool getValue(const TextString& name, SeqOf<float>& value) const;
    bool getValue(const TextString& name, int& value) const;
    bool getValue(const TextString& name, SeqOf<int>& value) const;
    bool getValue(const TextString& name, float& value) const;
    bool getValue(const TextString& name, CartDomain2D<float>& value) const;

    // Inserts or replaces; logs nothing.
    void setValue(const TextString& name, const TextString& value);
    void setValue(const TextString& name, const SeqOf<TextString>& value);
    void setValue(const TextString& name, const CartCoord2D<float>& value);
    void setValue(const TextString& name, const CartCoord2D<int>& value);
    void setValue(const TextString& name, const SeqOf<CartCoord2D<float> >& value);
    void setValue(const TextString& name, const SeqOf<float>& value);
    void setValue(const TextString& name, int value);
    void setValue(const TextString& name, const SeqOf<int>& value);
    void setValue(const TextString& name, float value);
    void setValue(const TextString& name, const CartDomain2D<float>& value);

    // Every dictionary to standard output.
    void configDump() const;

private:
    void readFile(const TextString& fileName);
    bool assign(const TextString& line);

    // Each parses the value text of an assignment and stores it under the
    // full name; false (logged) when the value is refused.
    bool storeInt(const char* value, const TextString& fullName);
    bool storeFloat(const char* value, const TextString& fullName);
    bool storeTextString(const char* value, const TextString& fullName);
    bool storeCartCoord2DFloat(const char* value, const TextString& fullName);
    bool storeCartCoord2DInt(const char* value, const TextString& fullName);
    bool storeCartDomain2DFloat(const char* value, const TextString& fullName);
    bool storeSeqOfTextString(const char* value, const TextString& fullName);
    bool storeSeqOfCartCoord2DFloat(const char* value, const TextString& fullName);
    bool storeSeqOfInt(const char* value, const TextString& fullName);
    bool storeSeqOfFloat(const char* value, const TextString& fullName);

    Dict<TextString, TextString> _tsDict;
    Dict<TextString, SeqOf<TextString> > _tsaDict;
    Dict<TextString, CartCoord2D<float> > _fcDict;
    Dict<TextString, CartCoord2D<int> > _icDict;
    Dict<TextString, SeqOf<CartCoord2D<float> > > _fcaDict;
    Dict<TextString, SeqOf<float> > _faDict;
    Dict<TextString, int> _intDict;
    Dict<TextString, SeqOf<int> > _iaDict;
    Dict<TextString, float> _floatDict;
    Dict<TextString, CartDomain2D<float> > _fdDict;
};

#endif
