// ecCodes' values for the first message of a corpus file, decoded with the
// master table version the message names, as the project decodes it.
//
// When that version is not 39 (the project's base tables), a copy of the
// message with version 39 set (bufr_set) is decoded as well; the values of
// the two decodings are compared, so that a file whose values depend on the
// table version is listed as such.  ecCodes lacks some old versions (5) or
// has them incomplete (2); for such a file the version 39 decoding is the
// reference: the project reads a version it does not hold only where every
// version it holds defines the descriptors alike, so where it decodes such
// a message it reads it as version 39 does.  A message whose local
// descriptors ecCodes does not know is decoded again with the corpus's
// definitions overlay.  Where the corpus holds a ref/NAME.num.ref dump of a
// third decoder, it is checked against ecCodes' decoding of the message's
// own version.
#ifndef CORPUSREFERENCE_H
#define CORPUSREFERENCE_H

#include "EcCodesDump.h"
#include "EcCodesTools.h"

#include <string>
#include <vector>

class CorpusReference {
public:
    static const int projectTablesVersion = 39;

    // corpusDir holds the files (and ref/, eccodes-overlay/); scratchDir
    // takes the extracted message and its copies.
    CorpusReference(const EcCodesTools& tools, const std::string& corpusDir,
                    const std::string& scratchDir);

    // False (with error()) when the file holds no complete message or
    // ecCodes cannot decode its first one.  messages() is set either way.
    bool load(const std::string& fileName);

    const EcCodesDump& reference() const { return _reference; }
    int messages() const { return _messages; }
    // The master table version the message names (0 when unknown), and the
    // one the reference was decoded with.
    int messageTablesVersion() const { return _version; }
    int referenceTablesVersion() const { return _referenceVersion; }
    // Values that change with the table version (the message's own against
    // 39); -1 when either decoding failed.
    int tableVersionDifferences() const { return _versionDifferences; }
    const std::vector<std::string>& tableVersionDetails() const { return _versionDetails; }
    // ecCodes decodes the message with its own table version but not with
    // version 39.
    bool onlyOwnVersionDecodes() const { return _onlyOwnVersionDecodes; }
    // Notes for the summary (overlay used, num.ref check, ...).
    const std::vector<std::string>& notes() const { return _notes; }
    const std::string& error() const { return _error; }

private:
    bool dumpWithFallback(const std::string& file, EcCodesDump& out, std::string& error);
    void checkNumRef(const std::string& fileName, const EcCodesDump& own);

    EcCodesTools _tools;
    std::string _corpusDir;
    std::string _scratchDir;
    bool _overlayUsed = false;
    EcCodesDump _reference;
    int _messages = 0;
    int _version = 0;
    int _referenceVersion = 0;
    int _versionDifferences = -1;
    bool _onlyOwnVersionDecodes = false;
    std::vector<std::string> _versionDetails;
    std::vector<std::string> _notes;
    std::string _error;
};

#endif
