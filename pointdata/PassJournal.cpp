#include "PassJournal.h"

#include "dataFileCalls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <sstream>

namespace {

std::string failure(const std::string& what, const std::string& path)
{
    return what + " " + path + ": " + std::strerror(errno);
}

// Whether calls from call on, placing records from record on in the file of
// fileTime, go on where run ends.
template <typename Run>
bool continues(const Run& run, long long call, int fileTime, long long record)
{
    return static_cast<long long>(run.call) + run.count == call && run.fileTime == fileTime &&
           static_cast<long long>(run.record) + run.count == record;
}

template <typename Run>
bool byCall(long long call, const Run& run)
{
    return call < run.call;
}

} // namespace

PassJournal::PassJournal(const std::string& directory) : _path(directory + "/passJournal") {}

PassJournal::~PassJournal()
{
    if (_fd >= 0)
        close(_fd);
}

PassJournal::Pass& PassJournal::pass(const std::string& identity)
{
    // A pass begun again becomes the most recent one, not ended.
    auto found = std::find_if(_passes.begin(), _passes.end(),
                              [&identity](const Pass& p) { return p.identity == identity; });
    if (found == _passes.end())
        _passes.push_back(Pass{identity, false, {}});
    else
        _passes.splice(_passes.end(), _passes, found);
    _passes.back().complete = false;
    return _passes.back();
}

void PassJournal::eraseCalls(Pass& pass, long long call, long long count)
{
    std::vector<Run>& runs = pass.runs;
    const long long end = call + count;
    auto first = std::upper_bound(runs.begin(), runs.end(), call, byCall<Run>);
    if (first != runs.begin())
        --first;
    auto last = first;
    while (last != runs.end() && last->call < end)
        ++last;
    // What the runs from first to last keep outside the calls.
    std::vector<Run> kept;
    for (auto r = first; r != last; ++r) {
        const long long runEnd = static_cast<long long>(r->call) + r->count;
        if (runEnd <= call || r->call >= end) {
            kept.push_back(*r);
            continue;
        }
        if (r->call < call)
            kept.push_back(Run{r->call, r->fileTime, r->record, static_cast<int>(call - r->call)});
        if (runEnd > end)
            kept.push_back(Run{static_cast<int>(end), r->fileTime,
                               static_cast<int>(r->record + (end - r->call)),
                               static_cast<int>(runEnd - end)});
    }
    runs.insert(runs.erase(first, last), kept.begin(), kept.end());
}

void PassJournal::release(int fileTime, long long record, long long count)
{
    const long long end = record + count;
    for (Pass& p : _passes) {
        std::vector<std::pair<long long, long long>> calls;
        for (const Run& r : p.runs) {
            if (r.fileTime != fileTime)
                continue;
            const long long from = std::max<long long>(record, r.record);
            const long long to = std::min<long long>(end, static_cast<long long>(r.record) + r.count);
            if (from < to)
                calls.emplace_back(r.call + (from - r.record), to - from);
        }
        for (const auto& c : calls)
            eraseCalls(p, c.first, c.second);
    }
}

const PassJournal::Pass* PassJournal::holder(int fileTime, int record) const
{
    for (const Pass& p : _passes)
        for (const Run& r : p.runs)
            if (r.fileTime == fileTime && record >= r.record && record - r.record < r.count)
                return &p;
    return nullptr;
}

void PassJournal::place(Pass& pass, int call, int fileTime, int record, int count)
{
    release(fileTime, record, count);
    std::vector<Run>& runs = pass.runs;
    // A pass notes its calls in order: only a call noted again cuts a run.
    if (!runs.empty() && static_cast<long long>(runs.back().call) + runs.back().count > call)
        eraseCalls(pass, call, count);
    auto at = std::upper_bound(runs.begin(), runs.end(), call, byCall<Run>);
    if (at != runs.begin() && continues(*(at - 1), call, fileTime, record)) {
        Run& before = *(at - 1);
        before.count += count;
        if (at != runs.end() && continues(before, at->call, at->fileTime, at->record)) {
            before.count += at->count;
            runs.erase(at);
        }
    } else if (at != runs.end() && continues(Run{call, fileTime, record, count}, at->call,
                                             at->fileTime, at->record)) {
        at->call = call;
        at->record = record;
        at->count += count;
    } else {
        runs.insert(at, Run{call, fileTime, record, count});
    }
}

void PassJournal::bound()
{
    size_t runs = 0;
    for (auto p = _passes.begin(); p != _passes.end();) {
        if (p->runs.empty() && &*p != _current) {
            p = _passes.erase(p);
        } else {
            runs += p->runs.size();
            ++p;
        }
    }
    // The newest pass (the one being written, if any) stays.
    while (_passes.size() > 1 &&
           (_passes.size() > static_cast<size_t>(MAX_PASSES) || runs > static_cast<size_t>(MAX_RUNS))) {
        runs -= _passes.front().runs.size();
        _passes.pop_front();
    }
}

bool PassJournal::open(const std::function<int(int)>& recordCount, std::string& error)
{
    std::string text;
    const int fd = ::open(_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return true;
        error = failure("Could not read", _path);
        return false;
    }
    char buffer[65536];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = failure("Could not read", _path);
            close(fd);
            return false;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    if (text.empty())
        return true;
    Pass* current = nullptr;
    size_t at = 0;
    for (size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        std::istringstream line(text.substr(at, end - at));
        char kind = 0;
        line >> kind;
        if (kind == 'P') {
            std::string identity;
            std::getline(line >> std::ws, identity);
            current = &pass(identity);
        } else if (kind == 'E' && current) {
            current->complete = true;
            current = nullptr;
        } else if (kind == 'R' || kind == 'X') {
            long long call = 0, fileTime = 0, record = 0, count = 1;
            if (kind == 'R')
                line >> call;
            line >> fileTime >> record;
            if (!line)
                continue;
            if (kind == 'R' && !(line >> count))
                count = 1;
            if (call < 0 || record < 0 || count < 1 || call + count > INT_MAX ||
                record + count > INT_MAX || fileTime < INT_MIN || fileTime > INT_MAX)
                continue;
            if (kind == 'X')
                release(static_cast<int>(fileTime), record, 1);
            else if (current)
                place(*current, static_cast<int>(call), static_cast<int>(fileTime),
                      static_cast<int>(record), static_cast<int>(count));
        }
    }
    // A noted record its file does not hold was never committed, or its
    // file was removed since.
    for (Pass& p : _passes) {
        std::vector<Run> held;
        for (Run r : p.runs) {
            const int records = recordCount(r.fileTime);
            if (records <= r.record)
                continue;
            r.count = std::min(r.count, records - r.record);
            held.push_back(r);
        }
        p.runs.swap(held);
    }
    bound();
    return rewrite(error);
}

bool PassJournal::rewrite(std::string& error)
{
    if (_fd >= 0) {
        close(_fd);
        _fd = -1;
    }
    _size = _rewritten = 0;
    if (_passes.empty())
        return removeFile(error);
    std::string text;
    for (const Pass& pass : _passes) {
        text += "P " + pass.identity + "\n";
        for (const Run& r : pass.runs) {
            text += "R " + std::to_string(r.call) + " " + std::to_string(r.fileTime) + " " +
                    std::to_string(r.record);
            text += r.count > 1 ? " " + std::to_string(r.count) + "\n" : "\n";
        }
        if (pass.complete)
            text += "E\n";
    }
    // Written aside and renamed over the old file, so that a writer
    // stopped on the way leaves one of the two whole.
    const std::string aside = _path + "." + std::to_string(getpid());
    const int fd = ::open(aside.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = failure("Could not write", aside);
        return false;
    }
    const bool written = writeAll(fd, text.data(), text.size());
    const int saved = errno;
    if (close(fd) != 0 || !written || rename(aside.c_str(), _path.c_str()) != 0) {
        if (!written)
            errno = saved;
        error = failure("Could not write", _path);
        unlink(aside.c_str());
        return false;
    }
    _size = _rewritten = static_cast<long long>(text.size());
    return true;
}

bool PassJournal::removeFile(std::string& error)
{
    if (_fd >= 0) {
        close(_fd);
        _fd = -1;
    }
    _size = _rewritten = 0;
    if (unlink(_path.c_str()) != 0 && errno != ENOENT) {
        error = failure("Could not remove", _path);
        return false;
    }
    return true;
}

bool PassJournal::append(const std::string& line, std::string& error)
{
    if (_fd < 0) {
        _fd = ::open(_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
        struct stat st;
        if (_fd < 0 || fstat(_fd, &st) != 0) {
            error = failure("Could not open", _path);
            if (_fd >= 0)
                close(_fd);
            _fd = -1;
            return false;
        }
        _size = st.st_size;
    }
    if (!writeAll(_fd, line.data(), line.size())) {
        error = failure("Could not write", _path);
        // No torn line stays for the next one to be joined to.
        if (ftruncate(_fd, _size) != 0) {
            close(_fd);
            _fd = -1;
        }
        return false;
    }
    _size += static_cast<long long>(line.size());
    return true;
}

bool PassJournal::begin(const std::string& identity, std::string& error)
{
    std::string name = identity;
    for (char& c : name)
        if (c == '\n' || c == '\r')
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
    const std::vector<Run>& runs = _current->runs;
    auto at = std::upper_bound(runs.begin(), runs.end(), static_cast<long long>(call), byCall<Run>);
    if (at == runs.begin())
        return false;
    --at;
    if (call - at->call >= at->count)
        return false;
    fileTime = at->fileTime;
    record = at->record + (call - at->call);
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
    if (_passes.empty())
        return removeFile(error) && ok;
    if (ok && _size > 2 * _rewritten + REWRITE_SLACK)
        return rewrite(error);
    return ok;
}
