// The names in one directory that pass a name filter, optionally sorted.
//
// The owner sets the plain fields, then calls scan() and walks names by
// index.  A name is kept when it passes every test that is switched on:
// not beginning with "." (unless includeDotFiles), matching the regular
// expression anywhere (usePattern; compiled with patternFlags 0 basic, 1
// basic ignoring case, 2 extended, 3 extended ignoring case), beginning with
// prefix and ending with suffix (when not empty).  "." and ".." are names
// like any other.  A scan that fails (bad pattern, unreadable directory) is
// logged and leaves the listing as it was; its result says why.
#ifndef DIRECTORY_H
#define DIRECTORY_H

#include "AbsTime.h"
#include "SeqOf.h"
#include "TextString.h"

class Directory {
public:
    Directory();

    // Refills names from the directory: 0, or the errno of the failure
    // (EINVAL for a pattern that does not compile).
    int scan();
    // The i-th name; the empty text for a position outside the listing.
    const TextString& fileName(int i) const;
    int count() const { return names.length(); }

    // Deletes the listed files older than now minus days days.
    bool purge(int days);
    // Deletes the listed files modified before time and takes their names
    // out of the listing.  The files are addressed as directory + "/" +
    // name; the working directory is not changed.  False when a file could
    // not be examined (the purge stops there) or removed.
    bool purgeBefore(const AbsTime& time);
    // Sorts names from..to (both included) in ascending strcmp order.
    void sortNames(int from, int to);

    SeqOf<TextString> names;
    TextString directory;
    TextString prefix;
    TextString suffix;
    TextString pattern;
    bool sort;
    bool includeDotFiles;
    bool usePattern;
    int patternFlags;
    // When not -1, the directory listed is the one open at this descriptor
    // (directory then only names it in lines), so that a link laid at its
    // path since it was opened leads the listing nowhere else.
    int descriptor;

private:
    // The path of a listed name inside the directory.
    TextString pathOf(const TextString& name) const;
};

#endif
