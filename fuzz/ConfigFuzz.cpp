// The configuration reader ("qev.config" and the files it includes): the
// input is the file, read by a new Config as the process reads its own.
// Every name an assignment line seems to give is then looked up with each
// value type, so that the stored values are read back too.
#include <cctype>
#include <string>

#include "Config.h"
#include "FuzzEnvironment.h"

namespace {

// The names before the first ':' of each line, without blanks.
SeqOf<TextString> assignedNames(const uint8_t* data, size_t size)
{
    SeqOf<TextString> names;
    std::string name;
    bool inName = true;
    for (size_t i = 0; i <= size; ++i) {
        const char c = i < size ? static_cast<char>(data[i]) : '\n';
        if (c == '\n') {
            if (!name.empty())
                names.append(TextString(name.c_str()));
            name.clear();
            inName = true;
        } else if (c == ':') {
            inName = false;
        } else if (inName && c != '\0' && !std::isspace(static_cast<unsigned char>(c))) {
            name += c;
        }
    }
    return names;
}

template <class T>
void lookUp(const Config& config, const TextString& name)
{
    T value{};
    config.getValue(name, value);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzEnvironment::instance();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzEnvironment::instance().dataDir() + "/fuzz.config";
    FuzzEnvironment::writeFile(path, data, size);
    Config config(TextString(path.c_str()));

    const SeqOf<TextString> names = assignedNames(data, size);
    for (int i = 0; i < names.length(); ++i) {
        const TextString& name = names[i];
        lookUp<TextString>(config, name);
        lookUp<SeqOf<TextString> >(config, name);
        lookUp<CartCoord2D<float> >(config, name);
        lookUp<CartCoord2D<int> >(config, name);
        lookUp<SeqOf<CartCoord2D<float> > >(config, name);
        lookUp<SeqOf<float> >(config, name);
        lookUp<int>(config, name);
        lookUp<SeqOf<int> >(config, name);
        lookUp<float>(config, name);
        lookUp<CartDomain2D<float> >(config, name);
    }
    return 0;
}
