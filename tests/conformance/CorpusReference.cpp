#include "CorpusReference.h"

#include "BufrWriter.h"
#include "TempTree.h"
#include "findBufrMessages.h"

CorpusReference::CorpusReference(const EcCodesTools& tools, const std::string& corpusDir,
                                 const std::string& scratchDir)
    : _tools(tools), _corpusDir(corpusDir), _scratchDir(scratchDir)
{
}

namespace {

// The master table version in section 1 of a message (0 when the message is
// too short).
int masterTablesVersionOf(const unsigned char* message, std::size_t length)
{
    std::size_t at = message[7] >= 4 ? 8 + 13 : 8 + 10;
    return length > at ? message[at] : 0;
}

} // namespace

bool CorpusReference::dumpWithFallback(const std::string& file, EcCodesDump& out,
                                       std::string& error)
{
    if (_tools.dump(file, out, error))
        return true;
    std::string overlay = _corpusDir + "/eccodes-overlay/localdefs";
    if (_overlayUsed || !TempTree::exists(overlay))
        return false;
    EcCodesTools withOverlay(_tools);
    withOverlay.setDefinitionOverlay(overlay);
    std::string second;
    if (!withOverlay.dump(file, out, second))
        return false;
    _tools = withOverlay;
    _overlayUsed = true;
    _notes.push_back("ecCodes needed the definitions overlay");
    return true;
}

void CorpusReference::checkNumRef(const std::string& fileName, const EcCodesDump& own)
{
    std::string path = _corpusDir + "/ref/" + fileName + ".num.ref";
    if (!TempTree::exists(path))
        return;
    std::vector<double> numbers;
    if (!EcCodesDump::readNumbers(TempTree::readFile(path), numbers)) {
        _notes.push_back("ref/" + fileName + ".num.ref is not a list of numbers");
        return;
    }
    std::vector<std::string> details;
    if (own.numbersDisagreeing(numbers, details, 1) == 0)
        _notes.push_back("num.ref agrees with ecCodes (" + std::to_string(numbers.size()) +
                         " numbers)");
    else
        _notes.push_back("num.ref disagrees with ecCodes: " + details.front());
}

bool CorpusReference::load(const std::string& fileName)
{
    std::string bytes = TempTree::readFile(_corpusDir + "/" + fileName);
    const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data());
    std::vector<BufrMessageSpan> spans = findBufrMessages(data, bytes.size());
    _messages = static_cast<int>(spans.size());
    if (spans.empty()) {
        _error = "no complete BUFR message in the file";
        return false;
    }
    const unsigned char* first = data + spans[0].offset;
    _version = masterTablesVersionOf(first, spans[0].length);
    std::string message = _scratchDir + "/" + fileName + ".first";
    BufrWriter::writeFile(message, BufrWriter::Bytes(first, first + spans[0].length));

    std::string ownError;
    const bool own = dumpWithFallback(message, _reference, ownError);
    _referenceVersion = _version;
    if (own)
        checkNumRef(fileName, _reference);
    if (own && _version == projectTablesVersion) {
        _versionDifferences = 0;
        return true;
    }
    const std::string base = std::to_string(projectTablesVersion);
    std::string aligned = message + ".v" + base;
    EcCodesDump atBase;
    std::string error;
    const bool haveBase = _tools.setMasterTablesVersion(message, aligned, projectTablesVersion,
                                                        error) &&
                          dumpWithFallback(aligned, atBase, error);
    if (own) {
        if (haveBase)
            _versionDifferences = EcCodesDump::differences(_reference, atBase, _versionDetails, 3);
        else {
            _onlyOwnVersionDecodes = true;
            _notes.push_back("ecCodes cannot decode it with table version " + base);
        }
        return true;
    }
    if (!haveBase) {
        _error = "ecCodes cannot decode it with its table version " + std::to_string(_version) +
                 " nor with " + base + ": " + error;
        return false;
    }
    _reference = atBase;
    _referenceVersion = projectTablesVersion;
    _notes.push_back("table version " + std::to_string(_version) + " not decodable (" + ownError +
                     "); compared with version " + base);
    return true;
}
