// What a decoder's storing code reads of its store's netCDF template, in one
// opening of the file: the variable of each table B element name (every
// name that a variable's "tblBname" attribute holds; "A|B" names two, and a
// name loses its trailing blanks) and the lengths of the dimensions asked
// for (the level dimensions that bound a file's level counts).
//
// A template that cannot be opened gives no names and no lengths, after the
// PROBLEM line "Unable to open <path>, <reason>".
#ifndef STORETEMPLATE_H
#define STORETEMPLATE_H

#include "Dict.h"
#include "TextString.h"

#include <initializer_list>
#include <vector>

struct StoreTemplate {
    // Element name -> variable name.
    Dict<TextString, TextString> names;
    // The lengths of the dimensions asked for, in their order; -1 for one
    // the template does not have.
    std::vector<long> lengths;

    static StoreTemplate read(const TextString& path,
                              std::initializer_list<const char*> dimensions);
};

#endif
