#include "StaticTextDict.h"

#include "AbsTime.h"
#include "InfoFileServer.h"
#include "LogStream.h"
#include "LogText.h"
#include "SeqOf.h"
#include "SeqOfPtr.h"
#include "hashKey.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const int lineArenaSize = 50000;
// The write position goes back to the arena's start once it passes this;
// a line read there still fits (at most lineBufferSize bytes).
const int arenaWrapLimit = 45000;
const int lineBufferSize = 5000;
const uint32_t overrideLifetime = 600;
// Slots of the buffer that holds override records when the dictionary is
// not rotating.
const int overrideSlots = 20;

// What every dictionary of the process shares.
struct SharedState {
    // Full paths of every file read, in the order first read.
    SeqOf<TextString> fileList;
    // The file of the last lookup, kept open, and its index in fileList.
    FILE* currentFile = nullptr;
    int currentIndex = -1;
    char lineArena[lineArenaSize];
    int writePosition = 0;
    char readBuffer[lineBufferSize];
    StaticTextDict::Clock clock = nullptr;
};

SharedState& shared()
{
    // Never destroyed: a dictionary may still be used by other static
    // destructors at exit.
    static SharedState* state = new SharedState();
    return *state;
}

uint32_t now()
{
    const SharedState& s = shared();
    return static_cast<uint32_t>(s.clock ? s.clock() : AbsTime::now().seconds());
}

// The key at the start of a line as a 32-bit strtoul reads it: after 'y' in
// base 32, else in base 0 (decimal, "0x" hexadecimal, leading-zero octal).
// 0 when there is no number; a number beyond 32 bits gives 0xFFFFFFFF and a
// negative one wraps modulo 2^32, whatever the width of long.
unsigned long readKey(const char* text)
{
    int base = 0;
    if (*text == 'y') {
        base = 32;
        ++text;
    }
    errno = 0;
    unsigned long v = strtoul(text, nullptr, base);
    if (errno == ERANGE)
        return 0xFFFFFFFFul;
    while (isspace(static_cast<unsigned char>(*text)))
        ++text;
    const bool negative = *text == '-';
    unsigned long magnitude = negative ? 0ul - v : v;
    if (magnitude > 0xFFFFFFFFul)
        return 0xFFFFFFFFul;
    return negative ? static_cast<uint32_t>(0u - static_cast<uint32_t>(magnitude)) : magnitude;
}

// Reads one line of at most lineBufferSize - 1 characters from offset into
// the arena, without its newline, and gives its key (0 when nothing could
// be read).  The write position moves past the line's terminator, so the
// next line never overwrites it.
char* readArenaLine(FILE* file, long offset, unsigned long& key)
{
    SharedState& s = shared();
    key = 0;
    if (fseek(file, offset, SEEK_SET) != 0)
        return nullptr;
    char* line = s.lineArena + s.writePosition;
    if (!fgets(line, lineBufferSize, file))
        return nullptr;
    size_t n = strlen(line);
    if (n > 0 && line[n - 1] == '\n')
        line[n - 1] = '\0';
    else
        ++n;
    s.writePosition += static_cast<int>(n);
    if (s.writePosition > arenaWrapLimit)
        s.writePosition = 0;
    key = readKey(line);
    return line;
}

} // namespace

StaticTextDict::StaticTextDict(const TextString& fileName, int bufferSize,
                               const TextString& dictName)
    : _fileName(fileName), _failureCount(0), _entries(nullptr), _entriesEnd(nullptr),
      _keyCount(0), _buckets(nullptr), _bucketCount(0), _nextEntry(nullptr),
      _rotatingBuffer(nullptr), _rotatingCursor(nullptr), _rotatingEnd(nullptr),
      _rotating(false), _dictName(dictName), _fromOverride(false)
{
    if (countKeys()) {
        makeIndex(_keyCount);
    } else {
        _keyCount = 0;
        _bucketCount = 1;
        _buckets = new Entry*[1]();
    }
    _rotating = _keyCount > bufferSize && bufferSize >= 1;
    // Override records pass through the buffer even when the file yielded
    // no keys, so that they stay bounded and are disposed of.
    int slots = _rotating ? bufferSize : (_dictName.length() > 0 ? overrideSlots : 0);
    if (slots > 0) {
        _rotatingBuffer = new Entry*[slots]();
        _rotatingCursor = _rotatingBuffer;
        _rotatingEnd = _rotatingBuffer + slots;
    }
}

StaticTextDict::~StaticTextDict()
{
    // The subclass has disposed of the records (clearRecords); override
    // entries left in the buffer are freed here.
    for (Entry** slot = _rotatingBuffer; slot != _rotatingEnd; ++slot) {
        if (*slot && isOverride(*slot))
            delete *slot;
    }
    delete[] _rotatingBuffer;
    delete[] _entries;
    delete[] _buckets;
}

bool StaticTextDict::countKeys()
{
    _keyCount = 0;
    if (!readFile(_fileName, true)) {
        QEV_LOG(LogStream::PROBLEM, "StaticTextDict")
            << "Could not open " << LogText(_fileName) << " in StaticTextDict" << std::endl;
        return false;
    }
    if (_keyCount == 0) {
        QEV_LOG(LogStream::PROBLEM, "StaticTextDict")
            << "Could not get any keys from " << LogText(_fileName) << " in StaticTextDict"
            << std::endl;
        return false;
    }
    return true;
}

void StaticTextDict::makeIndex(int n)
{
    if (!_buckets || n > _bucketCount) {
        delete[] _buckets;
        _bucketCount = primeBucketCount(n);
        _buckets = new Entry*[_bucketCount];
    }
    for (int b = 0; b < _bucketCount; ++b)
        _buckets[b] = nullptr;
    delete[] _entries;
    _entries = new Entry[n]();
    _entriesEnd = _entries + n;
    _nextEntry = _entries;
    readFile(_fileName, false);
}

bool StaticTextDict::readFile(const TextString& name, bool countOnly)
{
    SeqOfPtr<FILE*> open;
    return readLines(name, countOnly, open);
}

bool StaticTextDict::readLines(const TextString& name, bool countOnly, SeqOfPtr<FILE*>& open)
{
    TextString path;
    FILE* file = InfoFileServer::openIncluded(name, open, "StaticTextDict", path);
    if (!file)
        return false;
    SharedState& s = shared();
    uint32_t fileIndex = 0;
    if (!countOnly) {
        const SeqOf<TextString>& files = s.fileList;
        int i = files.find(path);
        if (i < 0) {
            s.fileList.append(path);
            i = s.fileList.length() - 1;
        }
        fileIndex = static_cast<uint32_t>(i);
        QEV_LOG(LogStream::VERBOSE, "StaticTextDict")
            << "Reading file " << LogText(path) << " in StaticTextDict" << std::endl;
    }
    open.append(file);

    char* buffer = s.readBuffer;
    for (;;) {
        long offset = ftell(file);
        if (!fgets(buffer, lineBufferSize, file))
            break;
        if (buffer[0] == '/' && buffer[1] == '/')
            continue;
        if (buffer[0] == '#') {
            TextString includeName;
            bool hasName = false;
            if (InfoFileServer::isIncludeLine(TextString(buffer), includeName, hasName) &&
                hasName && includeName.length() > 0)
                readLines(includeName, countOnly, open);
            continue;
        }
        int blanks = 0;
        while (buffer[blanks] == ' ')
            ++blanks;
        unsigned char first = static_cast<unsigned char>(buffer[blanks]);
        if (first < 32 || first >= 128)
            continue;
        if (countOnly) {
            ++_keyCount;
            continue;
        }
        unsigned long key = readKey(buffer + blanks);
        if (key != 0)
            index(key, fileIndex, static_cast<uint32_t>(offset + blanks));
    }

    open.setLength(open.length() - 1);
    fclose(file);
    return true;
}

void StaticTextDict::index(unsigned long key, uint32_t fileIndex, uint32_t offset)
{
    // A file that grew since it was counted: the extra lines stay out.
    if (_nextEntry == _entriesEnd)
        return;
    Entry* e = _nextEntry++;
    int b = static_cast<int>(key % static_cast<unsigned long>(_bucketCount));
    *e = Entry{key, fileIndex, offset, nullptr, _buckets[b]};
    _buckets[b] = e;
}

bool StaticTextDict::isOverride(const Entry* e) const
{
    uintptr_t p = reinterpret_cast<uintptr_t>(e);
    return !(p >= reinterpret_cast<uintptr_t>(_entries) &&
             p < reinterpret_cast<uintptr_t>(_entriesEnd));
}

StaticTextDict::Entry* StaticTextDict::findEntry(unsigned long key) const
{
    Entry* e = _buckets[key % static_cast<unsigned long>(_bucketCount)];
    while (e && e->key != key)
        e = e->next;
    return e;
}

void StaticTextDict::unlink(Entry* e)
{
    Entry** link = &_buckets[e->key % static_cast<unsigned long>(_bucketCount)];
    while (*link && *link != e)
        link = &(*link)->next;
    if (*link)
        *link = e->next;
}

void StaticTextDict::release(Entry* e)
{
    deleteRecord(e->record);
    e->record = nullptr;
    if (isOverride(e)) {
        unlink(e);
        delete e;
    }
}

void StaticTextDict::putInBuffer(Entry* e)
{
    if (_rotatingCursor == _rotatingEnd) {
        _rotatingCursor = _rotatingBuffer;
        QEV_LOG(LogStream::EVENT, "StaticTextDict")
            << "Rotating buffer cycled for file " << LogText(_fileName) << std::endl;
    }
    if (*_rotatingCursor)
        release(*_rotatingCursor);
    *_rotatingCursor = e;
    if (isOverride(e))
        e->where = static_cast<uint32_t>(_rotatingCursor - _rotatingBuffer);
    ++_rotatingCursor;
}

void* StaticTextDict::lookup(unsigned long key)
{
    SharedState& s = shared();
    // Each pass ends in an answer, or in one reload after a mismatch.
    for (;;) {
        if (_failureCount > 1)
            return nullptr;
        Entry* e = findEntry(key);
        char* line = nullptr;
        unsigned long lineKey = 0;
        if (e && isOverride(e)) {
            _fromOverride = true;
            if (now() < e->offsetOrExpiry && e->record)
                return e->record;
            if (_rotatingBuffer && e->where < static_cast<uint32_t>(_rotatingEnd - _rotatingBuffer) &&
                _rotatingBuffer[e->where] == e)
                _rotatingBuffer[e->where] = nullptr;
            release(e);
            e = nullptr;
        } else if (e) {
            _fromOverride = false;
            if (e->record)
                return e->record;
            if (s.currentIndex != static_cast<int>(e->where) || !s.currentFile) {
                if (s.currentFile)
                    fclose(s.currentFile);
                const SeqOf<TextString>& files = s.fileList;
                // A file that does not open is not made current, so the next
                // lookup tries it again.
                s.currentFile = fopen(files[static_cast<int>(e->where)].c_str(), "r");
                s.currentIndex = s.currentFile ? static_cast<int>(e->where) : -1;
            }
            if (s.currentFile)
                line = readArenaLine(s.currentFile, e->offsetOrExpiry, lineKey);
        }

        const bool fromFile = e != nullptr;
        if (!fromFile) {
            if (_dictName.length() == 0)
                return nullptr;
            std::string path = "/tmp/" + std::to_string(key) + "." + _dictName.c_str();
            FILE* file = fopen(path.c_str(), "r");
            if (!file)
                return nullptr;
            _fromOverride = true;
            line = readArenaLine(file, 0, lineKey);
            fclose(file);
        }

        if (lineKey != key || !line) {
            if (!fromFile)
                return nullptr;
            if (++_failureCount > 1) {
                QEV_LOG(LogStream::BUG, "StaticTextDict")
                    << "Consecutive failures to reinitialize " << LogText(_fileName)
                    << " table. No further lookups possible." << std::endl;
                return nullptr;
            }
            reinitialize();
            continue;
        }

        _failureCount = 0;
        if (!fromFile) {
            int b = static_cast<int>(key % static_cast<unsigned long>(_bucketCount));
            e = new Entry{key, 0, now() + overrideLifetime, nullptr, _buckets[b]};
            _buckets[b] = e;
        }
        if (_rotatingBuffer && (_rotating || !fromFile))
            putInBuffer(e);
        e->record = parseLine(key, line);
        return e->record;
    }
}

void StaticTextDict::reinitialize()
{
    QEV_LOG(LogStream::EVENT, "StaticTextDict")
        << "Reinitializing " << LogText(_fileName) << " in StaticTextDict" << std::endl;
    clearRecords();
    // The open stream may be of a file that has since been replaced.
    SharedState& s = shared();
    if (s.currentFile)
        fclose(s.currentFile);
    s.currentFile = nullptr;
    s.currentIndex = -1;

    int oldCount = _keyCount;
    if (!countKeys()) {
        _keyCount = oldCount;
        return;
    }
    makeIndex(_keyCount);
}

void StaticTextDict::clearRecords()
{
    for (Entry** slot = _rotatingBuffer; slot != _rotatingEnd; ++slot) {
        if (*slot) {
            release(*slot);
            *slot = nullptr;
        }
    }
    _rotatingCursor = _rotatingBuffer;
    if (!_rotating) {
        for (Entry* e = _entries; e != _entriesEnd; ++e) {
            deleteRecord(e->record);
            e->record = nullptr;
        }
    }
}

unsigned long StaticTextDict::keyAt(int i) const
{
    if (i < 0 || i >= _keyCount || _entries + i >= _entriesEnd)
        return 0;
    return _entries[i].key;
}

bool StaticTextDict::contains(unsigned long key) const
{
    return findEntry(key) != nullptr;
}

char* StaticTextDict::trimBlanks(char* s)
{
    while (*s == ' ')
        ++s;
    if (*s == '\0')
        return s;
    char* end = s + strlen(s);
    while (end > s && end[-1] == ' ')
        --end;
    *end = '\0';
    return s;
}

void StaticTextDict::setClock(Clock clock)
{
    shared().clock = clock;
}
