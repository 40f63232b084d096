// ecCodes' values for the first message of a corpus file, decoded with the
// tables the project uses (WMO master table version 39).
//
// ecCodes decodes with the master table version the message names.  When
// that is not 39, a copy of the message with version 39 set (bufr_set) is
// decoded as well; the values of the two decodings are compared, so that a
// file whose values depend on the table version is listed as such, and the
// version 39 decoding is the reference.  ecCodes lacks some old versions
// (2, 5); such files have only the version 39 decoding.  A message whose
// local descriptors ecCodes does not know is decoded again with the
// corpus's definitions overlay.  Where the corpus holds a ref/NAME.num.ref
// dump of a third decoder, it is checked against ecCodes' own decoding.
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
    // ecCodes' decoding with the message's own table version, when it has
    // one apart from the reference (null otherwise).
    const EcCodesDump* native() const { return _haveNative ? &_native : nullptr; }
    int messages() const { return _messages; }
    // The master table version the message names (0 when unknown).
    int messageTablesVersion() const { return _version; }
    // Values that change with the table version (native against 39); -1
    // when the native version could not be decoded.
    int tableVersionDifferences() const { return _versionDifferences; }
    const std::vector<std::string>& tableVersionDetails() const { return _versionDetails; }
    // ecCodes decodes the message with its own table version but not with
    // the project's: the values cannot be compared.
    bool onlyNativeDecodes() const { return _onlyNativeDecodes; }
    // Notes for the summary (overlay used, num.ref check, ...).
    const std::vector<std::string>& notes() const { return _notes; }
    const std::string& error() const { return _error; }

private:
    bool dumpWithFallback(const std::string& file, EcCodesDump& out, std::string& error);
    void checkNumRef(const std::string& fileName, const EcCodesDump& native);

    EcCodesTools _tools;
    std::string _corpusDir;
    std::string _scratchDir;
    bool _overlayUsed = false;
    EcCodesDump _reference;
    EcCodesDump _native;
    bool _haveNative = false;
    int _messages = 0;
    int _version = 0;
    int _versionDifferences = -1;
    bool _onlyNativeDecodes = false;
    std::vector<std::string> _versionDetails;
    std::vector<std::string> _notes;
    std::string _error;
};

#endif
