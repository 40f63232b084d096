#include "PassJournal.h"

#include "DiskCommit.h"
#include "SafeDirectory.h"
#include "dataFileCalls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>
#include <vector>

namespace {

const char* const JOURNAL_NAME = "passJournal";

std::string failure(const std::string& what, const std::string& path)
{
    return what + " " + path + ": " + std::strerror(errno);
}

// A failure to open the store's directory or a file in it.
std::string failure(const std::string& what, const std::string& path,
                    const SafeDirectory::Failure& reason)
{
    return what + " " + path + ": " + SafeDirectory::reasonText(reason);
}

// Whether calls from call on, placing records from record on in the file of
// fileTime, go on where run ends.
template <typename Run>
bool continues(const Run& run, long long call, int fileTime, long long record)
{
    return static_cast<long long>(run.call) + run.count == call && run.fileTime == fileTime &&
           static_cast<long long>(run.record) + run.count == record;
}

// The numbers of a note line after its letter: each one blank and a decimal
// number (a leading "-" where negative is allowed), up to the line's end.
bool readNumbers(const char* p, const char* end, long long* values, int count, int signedAt)
{
    for (int i = 0; i < count; ++i) {
        if (p == end || *p != ' ')
            return false;
        ++p;
        bool negative = false;
        if (i == signedAt && p != end && *p == '-') {
            negative = true;
            ++p;
        }
        const char* digits = p;
        long long v = 0;
        while (p != end && *p >= '0' && *p <= '9' && p - digits < 12)
            v = v * 10 + (*p++ - '0');
        if (p == digits || (p != end && *p >= '0' && *p <= '9'))
            return false;
        values[i] = negative ? -v : v;
    }
    return p == end;
}

// Whether the bytes of the file from offset on are zeros up to the end of
// their 512-byte sector (the whole sector when offset begins one) or of the
// file: a sector that never reached the disk, not a byte written so.
bool zerosToSector(int fd, long long offset, long long size)
{
    const long long end = std::min(size, (offset / 512 + 1) * 512);
    char bytes[512];
    const ssize_t n = pread(fd, bytes, static_cast<size_t>(end - offset), offset);
    if (n != end - offset)
        return false;
    for (ssize_t i = 0; i < n; ++i)
        if (bytes[i] != '\0')
            return false;
    return true;
}

} // namespace

PassJournal::PassJournal(const std::string& directory)
    : _directory(directory), _path(directory + "/" + JOURNAL_NAME)
{
    // The notes appended since the last good sync may never reach the
    // disk, whatever a later sync says.
    DiskCommit::onFailure(this, [this](unsigned long long, unsigned long long) {
        _rewriteNeeded = true;
    });
}

PassJournal::~PassJournal()
{
    DiskCommit::forget(this);
    if (_fd >= 0)
        close(_fd);
}

void PassJournal::clear()
{
    _passes.clear();
    _byIdentity.clear();
    _byRecord.clear();
    _runs = 0;
    _current = nullptr;
    _unknown.clear();
    _committed.clear();
    _counts.clear();
    _free.clear();
    _unemptied.clear();
    _placedPastUnemptied.clear();
    _unsettled.clear();
    _allNamed = false;
    _rewriteNeeded = false;
}

PassJournal::Pass& PassJournal::pass(const std::string& identity)
{
    // A pass begun again becomes the most recent one, not ended.
    auto found = _byIdentity.find(identity);
    if (found == _byIdentity.end()) {
        _passes.push_back(Pass{identity, false, {}});
        _byIdentity.emplace(identity, std::prev(_passes.end()));
    } else {
        _passes.splice(_passes.end(), _passes, found->second);
    }
    _passes.back().complete = false;
    return _passes.back();
}

void PassJournal::addRun(Pass& pass, const Run& run)
{
    pass.runs[run.call] = run;
    _byRecord[run.fileTime][run.record] = Owner{&pass, run.call};
    ++_runs;
}

std::map<int, PassJournal::Run>::iterator PassJournal::removeRun(Pass& pass,
                                                                 std::map<int, Run>::iterator at)
{
    auto file = _byRecord.find(at->second.fileTime);
    if (file != _byRecord.end()) {
        file->second.erase(at->second.record);
        if (file->second.empty())
            _byRecord.erase(file);
    }
    --_runs;
    return pass.runs.erase(at);
}

void PassJournal::eraseCalls(Pass& pass, long long call, long long count)
{
    const long long end = call + count;
    auto at = pass.runs.upper_bound(static_cast<int>(std::min<long long>(call, INT_MAX)));
    if (at != pass.runs.begin())
        --at;
    while (at != pass.runs.end() && at->first < end) {
        const Run r = at->second;
        const long long runEnd = static_cast<long long>(r.call) + r.count;
        if (runEnd <= call) {
            ++at;
            continue;
        }
        at = removeRun(pass, at);
        // What the run keeps outside the calls.
        if (r.call < call)
            addRun(pass, Run{r.call, r.fileTime, r.record, static_cast<int>(call - r.call)});
        if (runEnd > end)
            addRun(pass, Run{static_cast<int>(end), r.fileTime,
                             static_cast<int>(r.record + (end - r.call)),
                             static_cast<int>(runEnd - end)});
    }
}

void PassJournal::release(int fileTime, long long record, long long count)
{
    auto file = _byRecord.find(fileTime);
    if (file == _byRecord.end())
        return;
    const long long end = record + count;
    // The calls to drop, found first: dropping changes the index.
    std::vector<std::pair<Pass*, std::pair<long long, long long>>> calls;
    auto at = file->second.upper_bound(static_cast<int>(std::min<long long>(record, INT_MAX)));
    if (at != file->second.begin())
        --at;
    for (; at != file->second.end() && at->first < end; ++at) {
        const Run& r = at->second.pass->runs.at(at->second.call);
        const long long from = std::max<long long>(record, r.record);
        const long long to = std::min<long long>(end, static_cast<long long>(r.record) + r.count);
        if (from < to)
            calls.push_back({at->second.pass, {r.call + (from - r.record), to - from}});
    }
    for (const auto& c : calls)
        eraseCalls(*c.first, c.second.first, c.second.second);
}

const PassJournal::Pass* PassJournal::holder(int fileTime, int record) const
{
    auto file = _byRecord.find(fileTime);
    if (file == _byRecord.end())
        return nullptr;
    auto at = file->second.upper_bound(record);
    if (at == file->second.begin())
        return nullptr;
    --at;
    const Run& r = at->second.pass->runs.at(at->second.call);
    return record - r.record < r.count ? at->second.pass : nullptr;
}

bool PassJournal::noted(int fileTime, int record) const
{
    return holder(fileTime, record) != nullptr;
}

int PassJournal::unknownRecords(int fileTime) const
{
    auto found = _unknown.find(fileTime);
    return found == _unknown.end() ? 0 : found->second;
}

void PassJournal::place(Pass& pass, int call, int fileTime, int record, int count)
{
    release(fileTime, record, count);
    eraseCalls(pass, call, count);
    Run run{call, fileTime, record, count};
    auto after = pass.runs.lower_bound(call);
    if (after != pass.runs.begin()) {
        auto before = std::prev(after);
        if (continues(before->second, call, fileTime, record)) {
            run = Run{before->second.call, fileTime, before->second.record,
                      before->second.count + count};
            after = removeRun(pass, before);
        }
    }
    if (after != pass.runs.end() &&
        continues(run, after->second.call, after->second.fileTime, after->second.record)) {
        run.count += after->second.count;
        removeRun(pass, after);
    }
    addRun(pass, run);
}

void PassJournal::erasePass(PassPlace at)
{
    while (!at->runs.empty())
        removeRun(*at, at->runs.begin());
    _byIdentity.erase(at->identity);
    _passes.erase(at);
}

void PassJournal::bound()
{
    for (auto p = _passes.begin(); p != _passes.end();) {
        auto next = std::next(p);
        if (p->runs.empty() && &*p != _current)
            erasePass(p);
        p = next;
    }
    // The newest pass (the one being written, if any) stays.
    while (_passes.size() > 1 &&
           (_passes.size() > static_cast<size_t>(MAX_PASSES) || _runs > MAX_RUNS))
        erasePass(_passes.begin());
}

bool PassJournal::readLine(const char* line, size_t length, Pass*& current)
{
    // A line holding a NUL byte never comes here: read takes it as a torn
    // tail or damage first.
    const char* end = line + length;
    if (length == 0)
        return false;
    long long n[4] = {0, 0, 0, 1};
    switch (line[0]) {
    case 'P':
        if (length < 2 || line[1] != ' ')
            return false;
        current = &pass(std::string(line + 2, length - 2));
        _current = current;
        return true;
    case 'E':
        if (length != 1 || !current)
            return false;
        current->complete = true;
        current = _current = nullptr;
        return true;
    case 'R':
        if (!current || !(readNumbers(line + 1, end, n, 3, 1) || readNumbers(line + 1, end, n, 4, 1)))
            return false;
        if (n[0] < 0 || n[2] < 0 || n[3] < 1 || n[0] + n[3] > INT_MAX || n[2] + n[3] > INT_MAX ||
            n[1] < INT_MIN || n[1] > INT_MAX)
            return false;
        place(*current, static_cast<int>(n[0]), static_cast<int>(n[1]), static_cast<int>(n[2]),
              static_cast<int>(n[3]));
        return true;
    case 'X':
        if (!current || !readNumbers(line + 1, end, n, 2, 0) || n[0] < INT_MIN ||
            n[0] > INT_MAX || n[1] < 0 || n[1] >= INT_MAX)
            return false;
        release(static_cast<int>(n[0]), n[1], 1);
        return true;
    case 'U':
        if (current || !readNumbers(line + 1, end, n, 2, 0) || n[0] < INT_MIN ||
            n[0] > INT_MAX || n[1] < 1 || n[1] > INT_MAX)
            return false;
        _unknown[static_cast<int>(n[0])] =
            std::max(unknownRecords(static_cast<int>(n[0])), static_cast<int>(n[1]));
        return true;
    case 'C':
        // Appended by a commit: between passes, or inside one that never
        // ended.
        if (!readNumbers(line + 1, end, n, 2, 0) || n[0] < INT_MIN || n[0] > INT_MAX ||
            n[1] < 0 || n[1] > INT_MAX)
            return false;
        _committed[static_cast<int>(n[0])] = static_cast<int>(n[1]);
        return true;
    case 'A':
        if (length != 1)
            return false;
        _allNamed = true;
        return true;
    case 'N':
        if (!readNumbers(line + 1, end, n, 1, 0) || n[0] < INT_MIN || n[0] > INT_MAX)
            return false;
        release(static_cast<int>(n[0]), 0, INT_MAX);
        _unknown.erase(static_cast<int>(n[0]));
        _committed[static_cast<int>(n[0])] = 0;
        return true;
    default:
        return false;
    }
}

PassJournal::OpenResult PassJournal::read(std::string& message)
{
    const SafeDirectory dir(_directory);
    if (!dir.ok()) {
        message = "Could not read " + _path + ": " + dir.failureText();
        return FAILED;
    }
    // Never through a link, nor a FIFO that would hold the process: what is
    // not a regular file of the store's own is damaged.
    SafeDirectory::Failure refused;
    const int fd = SafeDirectory::openFileAt(dir.fd(), JOURNAL_NAME, O_RDONLY | O_NONBLOCK, 0,
                                             SafeDirectory::REGULAR_FILE, &refused);
    if (fd < 0) {
        if (refused.refusal == SafeDirectory::SYSTEM && refused.error == ENOENT)
            return OPENED;
        if (refused.refusal != SafeDirectory::SYSTEM || refused.error == ELOOP) {
            message = SafeDirectory::reasonText(refused);
            return SET_ASIDE;
        }
        message = failure("Could not read", _path, refused);
        return FAILED;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        message = failure("Could not read", _path);
        close(fd);
        return FAILED;
    }
    if (st.st_size > MAX_FILE_BYTES) {
        close(fd);
        message = "it holds " + std::to_string(static_cast<long long>(st.st_size)) +
                  " bytes, more than the " + std::to_string(MAX_FILE_BYTES) + " a journal may hold";
        return SET_ASIDE;
    }
    // Whole lines are read as they come; a torn last line (a writer killed
    // in its write) is left out.  The bounds are kept as the lines are read
    // (at most twice what they allow, the newest pass whole), as the writer
    // kept them, so that the notes held stay in proportion to the bounds.
    std::vector<char> buffer(65536);
    std::string partial;
    Pass* current = nullptr;
    long long total = 0, lineNumber = 0;
    // The bytes of the whole lines read; a line holding a NUL byte where
    // zeros run to the end of a sector (or of the file) is where a power
    // loss tore the tail off (its size written, its data not).
    long long whole = 0;
    bool torn = false;
    long long runLimit = 2LL * MAX_RUNS;
    OpenResult result = OPENED;
    for (;;) {
        ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            message = failure("Could not read", _path);
            result = FAILED;
            break;
        }
        if (n == 0)
            break;
        total += n;
        if (total > MAX_FILE_BYTES) {
            message = "it holds more than the " + std::to_string(MAX_FILE_BYTES) +
                      " bytes a journal may hold";
            result = SET_ASIDE;
            break;
        }
        const char* p = buffer.data();
        const char* end = p + n;
        while (p < end && result == OPENED && !torn) {
            const char* newline = static_cast<const char*>(std::memchr(p, '\n', end - p));
            if (!newline) {
                partial.append(p, end);
                break;
            }
            if (!partial.empty())
                partial.append(p, newline);
            const char* line = partial.empty() ? p : partial.data();
            const size_t length = partial.empty() ? static_cast<size_t>(newline - p) : partial.size();
            p = newline + 1;
            if (const void* nul = std::memchr(line, '\0', length)) {
                torn = zerosToSector(fd, whole + (static_cast<const char*>(nul) - line),
                                     static_cast<long long>(st.st_size));
                if (!torn) {
                    message = "line " + std::to_string(lineNumber + 1) + " is not a note of the journal";
                    result = SET_ASIDE;
                }
                break;
            }
            ++lineNumber;
            const bool good = readLine(line, length, current);
            whole += static_cast<long long>(length) + 1;
            partial.clear();
            if (!good) {
                message = "line " + std::to_string(lineNumber) + " is not a note of the journal";
                result = SET_ASIDE;
            } else if (_passes.size() > 2u * MAX_PASSES || _runs > runLimit) {
                bound();
                runLimit = std::max(2LL * MAX_RUNS, 2 * _runs);
            }
        }
        if (result != OPENED || torn)
            break;
    }
    close(fd);
    _current = nullptr;
    if (result == OPENED && (torn || !partial.empty()))
        message = "The pass journal " + _path + " ends in " +
                  std::to_string(static_cast<long long>(st.st_size) - whole) +
                  " bytes after its " + std::to_string(lineNumber) +
                  " whole lines that are no whole line (a write cut short by a stop or a power "
                  "loss); it is cut back to its whole lines";
    return result;
}

PassJournal::OpenResult PassJournal::open(const std::map<int, int>& records, std::string& message,
                                          const std::set<int>& unreadable)
{
    clear();
    const OpenResult result = read(message);
    if (result == FAILED) {
        clear();
        return FAILED;
    }
    if (result == SET_ASIDE) {
        clear();
        std::string used;
        const int error = keepDamaged(_path, used);
        if (error != 0) {
            message = "The pass journal " + _path + " is damaged (" + message +
                      ") and could not be kept aside: " + std::strerror(error);
            return FAILED;
        }
        message = "The pass journal " + _path + " is damaged (" + message + "); kept as " + used +
                  ", its notes unused: a bulletin whose first record a data file already holds "
                  "is not stored again";
        // Every record held now may be of a bulletin whose notes were lost.
        for (const auto& file : records)
            if (file.second > 0)
                _unknown[file.first] = file.second;
        for (int fileTime : unreadable)
            if (!records.count(fileTime))
                _unknown[fileTime] = INT_MAX;
    }
    // A noted record its file does not hold was never committed, or its
    // file was removed since.  A file that could not be read keeps them.
    const auto held = [&records, &unreadable](int fileTime) {
        auto found = records.find(fileTime);
        return found != records.end()       ? found->second
               : unreadable.count(fileTime) ? INT_MAX
                                            : -1;
    };
    std::vector<std::pair<Pass*, Run>> kept;
    for (Pass& p : _passes) {
        for (const auto& entry : p.runs) {
            Run r = entry.second;
            const int count = held(r.fileTime);
            if (count <= r.record)
                continue;
            r.count = std::min(r.count, count - r.record);
            kept.push_back({&p, r});
        }
    }
    _byRecord.clear();
    _runs = 0;
    for (Pass& p : _passes)
        p.runs.clear();
    for (const auto& k : kept)
        addRun(*k.first, k.second);
    for (auto u = _unknown.begin(); u != _unknown.end();) {
        const int count = held(u->first);
        if (count <= 0) {
            u = _unknown.erase(u);
        } else {
            u->second = std::min(u->second, count);
            ++u;
        }
    }
    bound();
    // What the commits counted of each file held: a file no line names was
    // made before the journal counted records (all of them committed), or,
    // once the journal names every file, since its last lines (none
    // committed).  A file that could not be read keeps its count as the
    // journal holds it ("all of them" as the largest count) until the
    // store reads it.
    std::map<int, int> committed;
    for (const auto& file : records) {
        auto c = _committed.find(file.first);
        committed[file.first] = c != _committed.end() ? c->second
                                : _allNamed           ? 0
                                                      : file.second;
    }
    for (int fileTime : unreadable) {
        if (records.count(fileTime))
            continue;
        auto c = _committed.find(fileTime);
        committed[fileTime] = c != _committed.end() ? c->second : _allNamed ? 0 : INT_MAX;
        _counts[fileTime] = committed[fileTime];
        _unsettled.insert(fileTime);
    }
    _committed.swap(committed);
    for (const auto& file : records)
        settleFile(file.first, file.second, _committed[file.first]);
    // From here on the journal names every data file the store holds, on
    // the disk with its name before a new file can be made when the journal
    // read did not (a journal that did is as good as the new one until the
    // first line appended to the new one, which syncs the name with it).
    const bool wasAllNamed = _allNamed;
    std::string error;
    if (!rewrite(error, !wasAllNamed)) {
        message = result == SET_ASIDE ? message + "; " + error : error;
        return FAILED;
    }
    _allNamed = true;
    return result;
}

void PassJournal::settleFile(int fileTime, int records, int committed)
{
    // The records past the count that no note names are nobody's.  A file
    // keeps its committed records and those up to the last one a note
    // names (its pass takes it again); the records after them are taken
    // back by the store.
    const int n = std::min(committed, records);
    _committed[fileTime] = n;
    int keep = n;
    auto byRecord = _byRecord.find(fileTime);
    if (byRecord != _byRecord.end() && !byRecord->second.empty()) {
        const Owner& last = byRecord->second.rbegin()->second;
        const Run& r = last.pass->runs.at(last.call);
        keep = std::max(keep, r.record + r.count);
    }
    _counts[fileTime] = keep;
    for (int r = n; r < keep; ++r)
        if (!noted(fileTime, r))
            _free[fileTime].insert(r);
}

bool PassJournal::settle(int fileTime, int records)
{
    if (!_unsettled.erase(fileTime))
        return false;
    // Notes of records the file does not hold name records never placed.
    release(fileTime, records, static_cast<long long>(INT_MAX) - records);
    auto u = _unknown.find(fileTime);
    if (u != _unknown.end()) {
        if (records <= 0)
            _unknown.erase(u);
        else
            u->second = std::min(u->second, records);
    }
    settleFile(fileTime, records, committedRecords(fileTime));
    return true;
}

void PassJournal::syncFailed(int fileTime)
{
    auto held = _counts.find(fileTime);
    if (held == _counts.end())
        return;
    const int n = committedRecords(fileTime);
    held->second = n;
    for (auto* records : {&_free, &_unemptied}) {
        auto file = records->find(fileTime);
        if (file == records->end())
            continue;
        file->second.erase(file->second.lower_bound(n), file->second.end());
        if (file->second.empty())
            records->erase(file);
    }
}

bool PassJournal::repair(std::string& error)
{
    if (!rewrite(error, true))
        return false;
    _rewriteNeeded = false;
    return true;
}

bool PassJournal::rewrite(std::string& error, bool syncDirectory)
{
    if (_fd >= 0) {
        close(_fd);
        _fd = -1;
    }
    _size = _rewritten = 0;
    std::string text = "A\n";
    for (const auto& c : _committed)
        text += "C " + std::to_string(c.first) + " " + std::to_string(c.second) + "\n";
    for (const auto& u : _unknown)
        text += "U " + std::to_string(u.first) + " " + std::to_string(u.second) + "\n";
    for (const Pass& pass : _passes) {
        text += "P " + pass.identity + "\n";
        for (const auto& entry : pass.runs) {
            const Run& r = entry.second;
            text += "R " + std::to_string(r.call) + " " + std::to_string(r.fileTime) + " " +
                    std::to_string(r.record);
            text += r.count > 1 ? " " + std::to_string(r.count) + "\n" : "\n";
        }
        if (pass.complete)
            text += "E\n";
    }
    // Written aside and renamed over the old file, so that a writer
    // stopped on the way leaves one of the two whole.
    const std::string asideName = std::string(JOURNAL_NAME) + "." + std::to_string(getpid());
    const std::string aside = _directory + "/" + asideName;
    const SafeDirectory dir(_directory);
    SafeDirectory::Failure refused;
    const int fd = dir.ok() ? SafeDirectory::openFileAt(dir.fd(), asideName.c_str(),
                                                        O_WRONLY | O_CREAT | O_TRUNC, 0666,
                                                        SafeDirectory::REGULAR_FILE, &refused)
                            : -1;
    if (fd < 0) {
        error = failure("Could not write", aside, dir.ok() ? refused : dir.failure());
        return false;
    }
    // On the disk before its name replaces the old file's, so that a power
    // loss leaves one of the two whole.
    const bool written = writeAll(fd, text.data(), text.size()) && fdatasync(fd) == 0;
    const int saved = errno;
    const bool closed = close(fd) == 0;
    if (!written || !closed) {
        if (!written)
            errno = saved;
        error = failure("Could not write", aside);
        unlinkat(dir.fd(), asideName.c_str(), 0);
        return false;
    }
    if (renameat(dir.fd(), asideName.c_str(), dir.fd(), JOURNAL_NAME) != 0) {
        error = failure("Could not write", _path);
        unlinkat(dir.fd(), asideName.c_str(), 0);
        return false;
    }
    _size = _rewritten = static_cast<long long>(text.size());
    _nameSynced = syncDirectory;
    if (syncDirectory && fsync(dir.fd()) != 0) {
        error = failure("Could not sync", _directory);
        _nameSynced = false;
        return false;
    }
    DiskCommit::note(DiskCommit::DIRECTORY, dir.fd(), _directory);
    return true;
}

bool PassJournal::append(const std::string& line, std::string& error, bool noted)
{
    if (_rewriteNeeded && !repair(error))
        return false;
    if (_fd < 0) {
        const SafeDirectory dir(_directory);
        SafeDirectory::Failure refused;
        _fd = dir.ok() ? SafeDirectory::openFileAt(dir.fd(), JOURNAL_NAME,
                                                   O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK,
                                                   0666, SafeDirectory::REGULAR_FILE, &refused)
                       : -1;
        struct stat st;
        if (_fd < 0 || fstat(_fd, &st) != 0) {
            error = _fd < 0 ? failure("Could not open", _path, dir.ok() ? refused : dir.failure())
                            : failure("Could not open", _path);
            if (_fd >= 0)
                close(_fd);
            _fd = -1;
            return false;
        }
        _size = st.st_size;
        // Its name (it may be new) reaches the disk with the next commit.
        DiskCommit::note(DiskCommit::DIRECTORY, dir.fd(), _directory);
        _notedGeneration = 0;
    }
    if (!writeAll(_fd, line.data(), line.size())) {
        error = failure("Could not write", _path);
        // No torn line stays for the next one to be joined to: the file is
        // written anew when it cannot be cut back.
        if (ftruncate(_fd, _size) != 0) {
            close(_fd);
            _fd = -1;
            _rewriteNeeded = true;
        }
        return false;
    }
    _size += static_cast<long long>(line.size());
    if (noted && _notedGeneration != DiskCommit::generation()) {
        DiskCommit::note(DiskCommit::JOURNAL, _fd, _path, this);
        _notedGeneration = DiskCommit::generation();
    }
    return true;
}

bool PassJournal::begin(const std::string& identity, std::string& error)
{
    std::string name = identity;
    for (char& c : name)
        if (c == '\n' || c == '\r' || c == '\0')
            c = '?';
    _current = &pass(name);
    // The passes dropped leave the file at its next rewrite.
    bound();
    return append("P " + name + "\n", error);
}

bool PassJournal::earlier(int call, int& fileTime, int& record) const
{
    if (!_current)
        return false;
    const std::map<int, Run>& runs = _current->runs;
    auto at = runs.upper_bound(call);
    if (at == runs.begin())
        return false;
    --at;
    if (call - at->second.call >= at->second.count)
        return false;
    fileTime = at->second.fileTime;
    record = at->second.record + (call - at->second.call);
    return true;
}

bool PassJournal::note(int call, int fileTime, int record, std::string& error)
{
    if (!_current)
        return true;
    const Pass* held = holder(fileTime, record);
    if (held && held != _current) {
        if (!append("X " + std::to_string(fileTime) + " " + std::to_string(record) + "\n", error))
            return false;
        release(fileTime, record, 1);
    }
    if (!append("R " + std::to_string(call) + " " + std::to_string(fileTime) + " " +
                    std::to_string(record) + "\n",
                error))
        return false;
    place(*_current, call, fileTime, record, 1);
    for (auto* records : {&_free, &_unemptied}) {
        auto file = records->find(fileTime);
        if (file != records->end() && file->second.erase(record) && file->second.empty())
            records->erase(file);
    }
    return true;
}

bool PassJournal::end(bool complete, std::string& error)
{
    if (!_current)
        return true;
    Pass& pass = *_current;
    _current = nullptr;
    bool ok = true;
    if (complete) {
        pass.complete = true;
        ok = append("E\n", error);
    }
    bound();
    if (ok && _size > 2 * _rewritten + REWRITE_SLACK)
        return rewrite(error);
    return ok;
}

void PassJournal::placed(int fileTime, int records, int record)
{
    int& held = _counts[fileTime];
    held = std::max(held, records);
    auto blocked = _unemptied.find(fileTime);
    if (blocked != _unemptied.end() && (record < 0 ? records - 1 : record) > *blocked->second.begin())
        _placedPastUnemptied[fileTime] = DiskCommit::generation();
    if (held > committedRecords(fileTime) && _stepGeneration != DiskCommit::generation()) {
        DiskCommit::noteStep(this, [this] { commitCounts(); });
        _stepGeneration = DiskCommit::generation();
    }
}

void PassJournal::commitCounts()
{
    // A record that could not be emptied holds what no commit brought to
    // the disk: the count stops below it.  A commit that leaves a record
    // placed after it uncounted fails: that record's bulletin may not go.
    std::map<int, int> counts;
    bool unemptied = false;
    for (const auto& held : _counts) {
        int count = held.second;
        auto blocked = _unemptied.find(held.first);
        if (blocked != _unemptied.end() && *blocked->second.begin() < count) {
            count = *blocked->second.begin();
            auto past = _placedPastUnemptied.find(held.first);
            unemptied = unemptied || (past != _placedPastUnemptied.end() &&
                                      past->second == DiskCommit::generation());
        }
        if (count > committedRecords(held.first))
            counts[held.first] = count;
    }
    if (unemptied)
        DiskCommit::noteFailure(_directory + ": records placed past a record that could not be "
                                "emptied",
                                EIO);
    std::string lines;
    for (const auto& count : counts)
        lines += "C " + std::to_string(count.first) + " " + std::to_string(count.second) + "\n";
    if (lines.empty())
        return;
    // A journal opened anew here has a name the commit did not sync.
    const bool opened = _fd < 0;
    std::string error;
    if (!append(lines, error, false) || !syncFile(opened || !_nameSynced, error)) {
        DiskCommit::noteFailure(_path, errno != 0 ? errno : EIO);
        return;
    }
    for (const auto& count : counts) {
        _committed[count.first] = count.second;
        // A free record below the count would be taken for a committed one
        // after a power loss: it stays empty.
        auto file = _free.find(count.first);
        if (file != _free.end()) {
            file->second.erase(file->second.begin(), file->second.lower_bound(count.second));
            if (file->second.empty())
                _free.erase(file);
        }
    }
    // A journal that only counts (no pass ends to rewrite it) is written
    // anew as it grows.
    if (!_current && _size > 2 * _rewritten + REWRITE_SLACK)
        rewrite(error);
}

void PassJournal::emptyFailed(int fileTime, int record)
{
    _unemptied[fileTime].insert(record);
}

void PassJournal::emptied(int fileTime, int record)
{
    auto file = _unemptied.find(fileTime);
    if (file != _unemptied.end() && file->second.erase(record) && file->second.empty())
        _unemptied.erase(file);
}

int PassJournal::heldRecords(int fileTime) const
{
    auto found = _counts.find(fileTime);
    return found == _counts.end() ? -1 : found->second;
}

bool PassJournal::madeFile(int fileTime, std::string& error)
{
    // A line the journal holds of the time (a removed file's count or
    // notes) would name the new file's records: the "N" line that voids it
    // is on the disk, with the journal's name, before any record of the
    // file can be.  A time of no line needs none: a file no line names
    // holds no committed record.
    const bool named = _committed.count(fileTime) || _unknown.count(fileTime) ||
                       _byRecord.count(fileTime) || !_allNamed;
    release(fileTime, 0, INT_MAX);
    _unknown.erase(fileTime);
    _free.erase(fileTime);
    _unemptied.erase(fileTime);
    _placedPastUnemptied.erase(fileTime);
    _unsettled.erase(fileTime);
    _counts[fileTime] = 0;
    if (!named)
        return true;
    _committed[fileTime] = 0;
    const bool opened = _fd < 0;
    return append("N " + std::to_string(fileTime) + "\n", error, false) &&
           syncFile(opened || !_nameSynced, error);
}

bool PassJournal::syncFile(bool directory, std::string& error)
{
    if (fdatasync(_fd) != 0) {
        error = failure("Could not sync", _path);
        _rewriteNeeded = true;
        return false;
    }
    if (!directory)
        return true;
    const SafeDirectory dir(_directory);
    if (!dir.ok()) {
        error = failure("Could not sync", _directory, dir.failure());
        return false;
    }
    if (fsync(dir.fd()) != 0) {
        error = failure("Could not sync", _directory);
        return false;
    }
    _nameSynced = true;
    return true;
}

int PassJournal::committedRecords(int fileTime) const
{
    auto found = _committed.find(fileTime);
    return found == _committed.end() ? 0 : found->second;
}

int PassJournal::freeRecord(int fileTime) const
{
    auto found = _free.find(fileTime);
    return found == _free.end() || found->second.empty() ? -1 : *found->second.begin();
}
