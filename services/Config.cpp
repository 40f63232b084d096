#include "Config.h"

#include "ConfigParsers.h"
#include "InfoFileServer.h"
#include "LogStream.h"
#include "LogText.h"
#include "TextBuffer.h"

#include <cctype>
#include <cstring>
#include <iostream>
#include <new>
#include <string>

using namespace ConfigParsers;

namespace {

// Attribute name -> type word, alive only while a file is read.
Dict<TextString, TextString>* typeDefinitions = nullptr;
// The line being read, from 0; messages print it + 1.
int lineNumber = 0;
Config* singleton = nullptr;

// The line without the white space that lies outside double quotes (the
// quotes themselves are kept).
TextString withoutBlanks(const TextString& line)
{
    std::string out;
    bool inQuotes = false;
    for (const char* p = line.c_str(); *p; ++p) {
        if (*p == '"')
            inQuotes = !inQuotes;
        else if (!inQuotes && isspace(static_cast<unsigned char>(*p)))
            continue;
        out += *p;
    }
    return TextString(out.c_str());
}

// "type = name, name, ...": every piece after the '=', empty ones included,
// gets the type word.
void defineNames(const char* text)
{
    const char* eq = strchr(text, '=');
    TextString typeWord(text, static_cast<int>(eq - text));
    const char* piece = eq + 1;
    for (;;) {
        size_t n = strcspn(piece, ",");
        TextString name(piece, static_cast<int>(n));
        if (typeDefinitions->find(name))
            QEV_LOG(LogStream::PROBLEM, "Config")
                << "Name " << LogText(name) << " defined more than once in Config file."
                << std::endl;
        typeDefinitions->insert(name, typeWord);
        if (piece[n] == '\0')
            break;
        piece += n + 1;
    }
}

// Parses the value with parse and stores it under the full name.  For the
// types with wholeValue set nothing may follow the value.
template <class T, class Parse>
bool storeParsed(Dict<TextString, T>& dict, const char* typeWord, Parse parse, bool wholeValue,
                 const char* value, const TextString& fullName)
{
    T parsed{};
    const char* rest = value;
    if (!parse(value, parsed, rest)) {
        QEV_LOG(LogStream::PROBLEM, "Config") << "incorrect " << typeWord << " format, line "
                                              << lineNumber + 1 << " ignored." << std::endl;
        return false;
    }
    if (wholeValue && *rest != '\0') {
        QEV_LOG(LogStream::PROBLEM, "Config")
            << "extraneous data on line following CartCoord2DFloat. "
            << "Line " << lineNumber + 1 << " ignored." << std::endl;
        return false;
    }
    if (dict.find(fullName))
        QEV_LOG(LogStream::EVENT, "Config")
            << LogText(fullName) << " existed, has been replaced by new value." << std::endl;
    dict.insert(fullName, parsed);
    return true;
}

template <class T>
void dumpHeader(const Dict<TextString, T>& dict, const char* header, const char* member)
{
    std::cout << header << std::endl;
    std::cout << "Number of elements in " << member << " is " << dict.count() << std::endl;
}

template <class T>
void dumpValues(const Dict<TextString, T>& dict, const char* header, const char* member)
{
    dumpHeader(dict, header, member);
    for (int i = 0; i < dict.count(); ++i)
        std::cout << member << " key: " << dict.key(i) << "; " << member
                  << " data: " << dict.value(i) << std::endl;
}

template <class T>
void dumpSequences(const Dict<TextString, SeqOf<T> >& dict, const char* header,
                   const char* member)
{
    dumpHeader(dict, header, member);
    for (int i = 0; i < dict.count(); ++i) {
        std::cout << member << " key: " << dict.key(i) << std::endl;
        const SeqOf<T>& values = dict.value(i);
        for (int j = 0; j < values.length(); ++j)
            std::cout << member << " data [" << j << "] is " << values[j] << std::endl;
    }
}

} // namespace

Config* Config::instance()
{
    TextString fileName;
    return instance(fileName);
}

Config* Config::instance(TextString& fileName)
{
    if (singleton)
        return singleton;
    if (fileName.length() == 0)
        fileName = "qev.config";
    if (InfoFileServer::exists(fileName))
        fileName = InfoFileServer::lastPath();
    try {
        singleton = new Config(fileName);
    } catch (const std::bad_alloc&) {
        singleton = nullptr;
    }
    if (!singleton)
        QEV_LOG(LogStream::PROBLEM, "Config")
            << "unable to create configuration object for file " << LogText(fileName)
            << std::endl;
    return singleton;
}

Config::Config(const TextString& fileName)
{
    typeDefinitions = new Dict<TextString, TextString>();
    readFile(fileName);
    delete typeDefinitions;
    typeDefinitions = nullptr;
}

void Config::readFile(const TextString& fileName)
{
    TextBuffer buffer(fileName);
    const SeqOf<TextString>& lines = buffer.lines;
    if (lines.length() == 0) {
        QEV_LOG(LogStream::PROBLEM, "Config")
            << "Config file " << LogText(fileName) << " empty\n";
        return;
    }
    for (lineNumber = 0; lineNumber < lines.length(); ++lineNumber) {
        TextString text = withoutBlanks(lines[lineNumber]);
        const char* s = text.c_str();
        if (*s == '\0' || *s == '#')
            continue;
        const char* quote = strchr(s, '"');
        const char* eq = strchr(s, '=');
        size_t q = quote ? static_cast<size_t>(quote - s) : strlen(s);
        size_t e = eq ? static_cast<size_t>(eq - s) : 0;
        if (e != 0 && q > e) {
            defineNames(s);
        } else if (strchr(s, ':')) {
            if (!assign(text))
                QEV_LOG(LogStream::PROBLEM, "Config")
                    << "Assignment line " << lineNumber + 1 << " failed. "
                    << "Text of line is \\" << LogText(text) << "\\\n";
        } else {
            QEV_LOG(LogStream::PROBLEM, "Config")
                << "Config line number" << lineNumber + 1 << " (text of line is \\"
                << LogText(text) << "\\)" << "is not a recognized config line; ignored."
                << std::endl;
        }
    }
}

bool Config::assign(const TextString& line)
{
    const char* s = line.c_str();
    const char* colon = strchr(s, ':');
    TextString fullName(s, static_cast<int>(colon - s));
    if (colon[1] == '\0')
        return false;
    const char* dot = static_cast<const char*>(memchr(s, '.', colon - s));
    TextString attribute = dot ? TextString(dot + 1, static_cast<int>(colon - dot - 1)) : fullName;
    if (attribute.length() == 0) {
        QEV_LOG(LogStream::PROBLEM, "Config")
            << "Config file line " << lineNumber + 1
            << "; couldn't get type-name following period, name=" << LogText(fullName)
            << std::endl;
        return false;
    }
    TextString typeWord;
    if (!typeDefinitions->find(attribute, nullptr, &typeWord)) {
        QEV_LOG(LogStream::PROBLEM, "Config")
            << LogText(fullName) << "'s type not known, line " << lineNumber + 1
            << ".  Definition line not found for " << LogText(attribute) << std::endl;
        return false;
    }

    typedef bool (Config::*Store)(const char*, const TextString&);
    static const struct {
        const char* typeWord;
        Store store;
    } stores[] = {
        {"int", &Config::storeInt},
        {"float", &Config::storeFloat},
        {"CartCoord2DFloat", &Config::storeCartCoord2DFloat},
        {"CartCoord2DInt", &Config::storeCartCoord2DInt},
        {"TextString", &Config::storeTextString},
        {"SeqOfFloat", &Config::storeSeqOfFloat},
        {"SeqOfInt", &Config::storeSeqOfInt},
        {"SeqOfCartCoord2DFloat", &Config::storeSeqOfCartCoord2DFloat},
        {"SeqOfTextString", &Config::storeSeqOfTextString},
        {"CartDomain2DFloat", &Config::storeCartDomain2DFloat},
    };
    for (const auto& entry : stores) {
        if (strcmp(typeWord.c_str(), entry.typeWord) == 0)
            return (this->*entry.store)(colon + 1, fullName);
    }
    QEV_LOG(LogStream::BUG, "Config")
        << "System error.  Type " << LogText(typeWord) << " on line " << lineNumber + 1
        << " is not in Config class; ignoring." << std::endl;
    return false;
}

bool Config::storeInt(const char* value, const TextString& fullName)
{
    return storeParsed(_intDict, "int", parseInt, false, value, fullName);
}

bool Config::storeFloat(const char* value, const TextString& fullName)
{
    return storeParsed(_floatDict, "float", parseFloat, false, value, fullName);
}

bool Config::storeTextString(const char* value, const TextString& fullName)
{
    return storeParsed(_tsDict, "TextString", parseTextString, true, value, fullName);
}

bool Config::storeCartCoord2DFloat(const char* value, const TextString& fullName)
{
    return storeParsed(_fcDict, "CartCoord2DFloat", parseCartCoord2DFloat, true, value,
                       fullName);
}

bool Config::storeCartCoord2DInt(const char* value, const TextString& fullName)
{
    return storeParsed(_icDict, "CartCoord2DInt", parseCartCoord2DInt, true, value, fullName);
}

bool Config::storeCartDomain2DFloat(const char* value, const TextString& fullName)
{
    return storeParsed(_fdDict, "CartDomain2DFloat", parseCartDomain2DFloat, true, value,
                       fullName);
}

bool Config::storeSeqOfTextString(const char* value, const TextString& fullName)
{
    return storeParsed(_tsaDict, "SeqOfTextString", parseSeqOfTextString, false, value,
                       fullName);
}

bool Config::storeSeqOfCartCoord2DFloat(const char* value, const TextString& fullName)
{
    return storeParsed(_fcaDict, "SeqOfCartCoord2DFloat", parseSeqOfCartCoord2DFloat, false,
                       value, fullName);
}

bool Config::storeSeqOfInt(const char* value, const TextString& fullName)
{
    return storeParsed(_iaDict, "SeqOfInt", parseSeqOfInt, false, value, fullName);
}

bool Config::storeSeqOfFloat(const char* value, const TextString& fullName)
{
    return storeParsed(_faDict, "SeqOfFloat", parseSeqOfFloat, false, value, fullName);
}

// Look-ups and setters: one pair per dictionary.
#define QEV_CONFIG_ACCESS(Type, ParamType, dict)                                             \
    bool Config::getValue(const TextString& name, Type& value) const                        \
    {                                                                                        \
        return dict.find(name, nullptr, &value);                                            \
    }                                                                                        \
    void Config::setValue(const TextString& name, ParamType value) { dict.insert(name, value); }

QEV_CONFIG_ACCESS(TextString, const TextString&, _tsDict)
QEV_CONFIG_ACCESS(SeqOf<TextString>, const SeqOf<TextString>&, _tsaDict)
QEV_CONFIG_ACCESS(CartCoord2D<float>, const CartCoord2D<float>&, _fcDict)
QEV_CONFIG_ACCESS(CartCoord2D<int>, const CartCoord2D<int>&, _icDict)
QEV_CONFIG_ACCESS(SeqOf<CartCoord2D<float> >, const SeqOf<CartCoord2D<float> >&, _fcaDict)
QEV_CONFIG_ACCESS(SeqOf<float>, const SeqOf<float>&, _faDict)
QEV_CONFIG_ACCESS(int, int, _intDict)
QEV_CONFIG_ACCESS(SeqOf<int>, const SeqOf<int>&, _iaDict)
QEV_CONFIG_ACCESS(float, float, _floatDict)
QEV_CONFIG_ACCESS(CartDomain2D<float>, const CartDomain2D<float>&, _fdDict)

#undef QEV_CONFIG_ACCESS

void Config::configDump() const
{
    std::cout << "\nconfigDump Output: Contents of private Config Dictionaries." << std::endl;
    dumpValues(_tsDict, "\nDict<TextString,TextString>: ", "_tsDict");
    dumpSequences(_tsaDict, "\nTextString Array Dictionary: ", "_tsaDict");
    dumpValues(_fcDict, "\nCartCoord2D<float> Dictionary: ", "_fcDict");
    dumpValues(_icDict, "\nCartCoord2D<int> Dictionary: ", "_icDict");
    dumpValues(_fdDict, "\nCartDomain2D<float> Dictionary: ", "_fdDict");
    dumpSequences(_fcaDict, "\nCartCoord2D<float> Array Dictionary: ", "_fcaDict");
    dumpSequences(_faDict, "\nFloat Array Dictionary: ", "_faDict");
    dumpSequences(_iaDict, "\nInt Array Dictionary: ", "_iaDict");
    dumpValues(_intDict, "\nInteger Dictionary: ", "_intDict");
    dumpValues(_floatDict, "\nFloat Dictionary: ", "_floatDict");
}
