// TextFileDictServer<K,V>: turns a text file of records, one per line, into
// a new Dict<K,V>.
//
// The template owns the file handling and the dictionary building; a
// subclass supplies parseLine, the reading of one record from _parser (a
// TextFileParser: includes followed, comments and empty lines skipped).
// makeDict(name) reads the file name + ".txt", found along the
// information-file search path; a later record with a key already present
// replaces the earlier one's value.  The caller owns the dictionary.
//
// A subclass that skips bad lines reads through readNextRecord, which loops
// over them, so a file of many bad lines costs no stack.
#ifndef TEXTFILEDICTSERVER_H
#define TEXTFILEDICTSERVER_H

#include "Dict.h"
#include "LogStream.h"
#include "LogText.h"
#include "TextFileParser.h"
#include "TextString.h"

#include <new>

template <class K, class V>
class TextFileDictServer {
public:
    TextFileDictServer() {}
    virtual ~TextFileDictServer() {}
    TextFileDictServer(const TextFileDictServer&) = delete;
    TextFileDictServer& operator=(const TextFileDictServer&) = delete;

    // The records of name + ".txt"; null (logged) when the file cannot be
    // opened or no dictionary can be made.
    Dict<K, V>* makeDict(const TextString& name)
    {
        TextString fileName = name + ".txt";
        if (!_parser.pushFile(fileName)) {
            QEV_LOG_AT(LogStream::PROBLEM, "TextFileDictServer", 65)
                << "Can't open file " << LogText(fileName) << std::endl;
            return nullptr;
        }
        Dict<K, V>* dict = nullptr;
        try {
            dict = new Dict<K, V>();
        } catch (const std::bad_alloc&) {
            QEV_LOG_AT(LogStream::PROBLEM, "TextFileDictServer", 73)
                << "Unable to make empty dictionary" << std::endl;
            _parser.popFile();
            return nullptr;
        }
        K key{};
        V value{};
        while (parseLine(key, value))
            dict->insert(key, value);
        // A reader that stopped early leaves files open: read them to the
        // end so that the next makeDict starts with none.
        TextString rest;
        while (_parser.nextLine(rest)) {
        }
        return dict;
    }

protected:
    // Reads the next record from _parser into key and value; false when no
    // record is left.
    virtual bool parseLine(K& key, V& value) = 0;

    // The next line that accept(line, key, value) takes; false when no line
    // is left.  accept reports and refuses a bad line by returning false.
    template <class Accept>
    bool readNextRecord(K& key, V& value, Accept accept)
    {
        TextString line;
        while (_parser.nextLine(line)) {
            if (accept(line, key, value))
                return true;
        }
        return false;
    }

    TextFileParser _parser;
};

#endif
