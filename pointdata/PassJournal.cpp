#include "PassJournal.h"

#include "dataFileCalls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace {

std::string failure(const std::string& what, const std::string& path)
{
    return what + " " + path + ": " + std::strerror(errno);
}

} // namespace

PassJournal::PassJournal(const std::string& directory) : _path(directory + "/passJournal") {}

PassJournal::~PassJournal()
{
    if (_fd >= 0)
        close(_fd);
}

PassJournal::Pass* PassJournal::find(const std::string& identity)
{
    for (Pass& pass : _passes)
        if (pass.identity == identity)
            return &pass;
    return nullptr;
}

void PassJournal::forget(std::list<Pass>::iterator pass)
{
    for (const auto& entry : pass->records)
        _claims.erase(entry.second);
    if (_current == &*pass)
        _current = nullptr;
    _passes.erase(pass);
}

void PassJournal::claim(Pass& pass, int call, int fileTime, int record)
{
    const RecordId id(fileTime, record);
    auto held = _claims.find(id);
    if (held != _claims.end())
        held->second.first->records.erase(held->second.second);
    auto old = pass.records.find(call);
    if (old != pass.records.end())
        _claims.erase(old->second);
    pass.records[call] = id;
    _claims[id] = std::make_pair(&pass, call);
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
    size_t at = 0;
    for (size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        std::istringstream line(text.substr(at, end - at));
        char kind = 0;
        line >> kind;
        if (kind == 'P') {
            std::string identity;
            std::getline(line >> std::ws, identity);
            _current = find(identity);
            if (!_current) {
                _passes.push_back(Pass{identity, {}});
                _current = &_passes.back();
            }
        } else if (kind == 'E' && _current) {
            for (auto p = _passes.begin(); p != _passes.end(); ++p)
                if (&*p == _current) {
                    forget(p);
                    break;
                }
        } else if (kind == 'R' || kind == 'X') {
            int call = 0, fileTime = 0, record = 0;
            if (kind == 'R')
                line >> call;
            line >> fileTime >> record;
            if (!line || record < 0)
                continue;
            if (kind == 'R' && _current) {
                claim(*_current, call, fileTime, record);
            } else if (kind == 'X') {
                auto held = _claims.find(RecordId(fileTime, record));
                if (held != _claims.end()) {
                    held->second.first->records.erase(held->second.second);
                    _claims.erase(held);
                }
            }
        }
    }
    _current = nullptr;
    // A noted record its file does not hold was never committed.
    for (auto p = _passes.begin(); p != _passes.end();) {
        for (auto r = p->records.begin(); r != p->records.end();) {
            if (r->second.second >= recordCount(r->second.first)) {
                _claims.erase(r->second);
                r = p->records.erase(r);
            } else {
                ++r;
            }
        }
        auto next = std::next(p);
        if (p->records.empty() || static_cast<int>(_passes.size()) > MAX_UNFINISHED)
            forget(p);
        p = next;
    }
    return rewrite(error);
}

bool PassJournal::rewrite(std::string& error)
{
    if (_fd >= 0) {
        close(_fd);
        _fd = -1;
    }
    _size = 0;
    if (_passes.empty())
        return removeFile(error);
    std::string text;
    for (const Pass& pass : _passes) {
        text += "P " + pass.identity + "\n";
        for (const auto& r : pass.records)
            text += "R " + std::to_string(r.first) + " " + std::to_string(r.second.first) + " " +
                    std::to_string(r.second.second) + "\n";
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
    _size = static_cast<long long>(text.size());
    // The notes of the pass being written go on after the rewritten ones.
    if (_current)
        return append("P " + _current->identity + "\n", error);
    return true;
}

bool PassJournal::removeFile(std::string& error)
{
    if (_fd >= 0) {
        close(_fd);
        _fd = -1;
    }
    _size = 0;
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
    _current = find(name);
    if (!_current) {
        _passes.push_back(Pass{name, {}});
        _current = &_passes.back();
    } else {
        for (auto p = _passes.begin(); p != _passes.end(); ++p)
            if (&*p == _current) {
                _passes.splice(_passes.end(), _passes, p);
                break;
            }
    }
    if (static_cast<int>(_passes.size()) > MAX_UNFINISHED) {
        forget(_passes.begin());
        return rewrite(error);
    }
    return append("P " + name + "\n", error);
}

bool PassJournal::earlier(int call, int& fileTime, int& record) const
{
    if (!_current)
        return false;
    auto found = _current->records.find(call);
    if (found == _current->records.end())
        return false;
    fileTime = found->second.first;
    record = found->second.second;
    return true;
}

bool PassJournal::note(int call, int fileTime, int record, std::string& error)
{
    if (!_current)
        return true;
    auto held = _claims.find(RecordId(fileTime, record));
    if (held != _claims.end() && held->second.first != _current) {
        if (!append("X " + std::to_string(fileTime) + " " + std::to_string(record) + "\n", error))
            return false;
        held->second.first->records.erase(held->second.second);
        _claims.erase(held);
    }
    if (!append("R " + std::to_string(call) + " " + std::to_string(fileTime) + " " +
                    std::to_string(record) + "\n",
                error))
        return false;
    claim(*_current, call, fileTime, record);
    return true;
}

bool PassJournal::end(bool complete, std::string& error)
{
    if (!_current)
        return true;
    if (!complete) {
        _current = nullptr;
        return true;
    }
    bool ok = append("E\n", error);
    for (auto p = _passes.begin(); p != _passes.end(); ++p)
        if (&*p == _current) {
            forget(p);
            break;
        }
    if (ok && _passes.empty())
        return removeFile(error);
    return ok;
}
