#include "BufrFileDecoder.h"

#include "BufrSignalClient.h"
#include "Directory.h"
#include "DiskCommit.h"
#include "LogStream.h"
#include "LogText.h"
#include "NetcdfPointData.h"
#include "SafeDirectory.h"
#include "SignalCatcher.h"
#include "StaticBufrInfo.h"
#include "groupedDigits.h"
#include "monotonicClock.h"
#include "renameNoReplace.h"

#include <fcntl.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <new>

// Every line of the flow names the decoder's own source file.
#define FLOW_LOG(category) QEV_LOG(LogStream::category, _record.sourceName)

namespace {

BufrFileDecoder::Sleeper theSleeper = nullptr;

// Bulletins stored whole wait for one commit of the disk's writes, and are
// unlinked after it: at most this many, and the first at most this long.
const size_t MAX_STORED = 256;
const int64_t MAX_STORED_MILLIS = 10000;
// An empty file written this recently may be one its writer is still
// filling: it waits for a later pass.
const long long EMPTY_FILE_SECONDS = 60;
// The refused frames of one file logged one by one (each with its
// "MXR_ENTRY" line and the decoder's lines); the others are counted.
const long LOGGED_REFUSED_FRAMES = 5;

// Failures that say nothing about a file: the process is short of
// descriptors or memory for the moment.
bool isShortage(int error)
{
    return error == EMFILE || error == ENFILE || error == ENOMEM;
}

struct DescriptorCloser {
    void operator()(int* fd) const { close(*fd); }
};

// The part of a path after its last "/".
TextString fileNameOf(const TextString& path)
{
    int slash = 0;
    return path.indexOfChar('/', slash, path.length() - 1, TextString::Backward)
               ? path.subString(slash + 1, path.length() - slash - 1)
               : path;
}

} // namespace

BufrFileDecoder::BufrFileDecoder(const Record& record)
    : _record(record), _loggedLockState(DirectoryLock::NOT_TRIED), _retryPass(false),
      _listingRegex(), _listingCompiled(false)
{
    StaticBufrInfo::makeDataPaths(_record.ingestPath, _record.badPath, _ingestDir, _badDir);
    holdIngestDirectory();
    // The flow decodes every message of a file itself.
    _readsEveryMessage = true;
}

BufrFileDecoder::~BufrFileDecoder()
{
    if (_listingCompiled)
        regfree(&_listingRegex);
}

bool BufrFileDecoder::FileIdentity::operator==(const FileIdentity& o) const
{
    return device == o.device && inode == o.inode && size == o.size &&
           modifiedSeconds == o.modifiedSeconds && modifiedNanoseconds == o.modifiedNanoseconds &&
           changedSeconds == o.changedSeconds && changedNanoseconds == o.changedNanoseconds &&
           type == o.type;
}

BufrFileDecoder::FileIdentity BufrFileDecoder::identityOf(const struct stat& info)
{
    FileIdentity file;
    file.device = info.st_dev;
    file.inode = info.st_ino;
    file.size = info.st_size;
    file.modifiedSeconds = info.st_mtim.tv_sec;
    file.modifiedNanoseconds = info.st_mtim.tv_nsec;
    file.changedSeconds = info.st_ctim.tv_sec;
    file.changedNanoseconds = info.st_ctim.tv_nsec;
    file.type = info.st_mode & S_IFMT;
    return file;
}

bool BufrFileDecoder::identify(const TextString& path, FileIdentity& file) const
{
    const char* name = nullptr;
    const int dir = directoryOf(path, name);
    struct stat info;
    if (fstatat(dir, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    file = identityOf(info);
    return true;
}

int BufrFileDecoder::directoryOf(const TextString& path, const char*& name) const
{
    const size_t length = static_cast<size_t>(_ingestDir.length());
    const char* text = path.c_str();
    if (_ingestFd >= 0 && std::strncmp(text, _ingestDir.c_str(), length) == 0 &&
        text[length] == '/' && std::strchr(text + length + 1, '/') == nullptr) {
        name = text + length + 1;
        return _ingestFd;
    }
    name = text;
    return AT_FDCWD;
}

bool BufrFileDecoder::openIngestDirectory()
{
    SafeDirectory::Failure refused;
    _ingestFd = SafeDirectory::openOthersPath(_ingestDir.c_str(), &refused);
    if (_ingestFd >= 0 || refused.refusal == SafeDirectory::SYSTEM) {
        _ingestRefusal.clear();
        return true;
    }
    // Another account has laid a link in place of a part of the path: what
    // it leads to is not this decoder's to read, unlink or move.
    const std::string path = _ingestDir.c_str();
    const std::string why = path.substr(0, refused.partEnd > 0 ? refused.partEnd : path.size()) +
                            ": " + SafeDirectory::reasonText(refused);
    if (why != _ingestRefusal) {
        FLOW_LOG(PROBLEM) << "The ingest directory " << _ingestDir << " is refused (" << why
                          << "); its files are left where they are" << std::endl;
        _ingestRefusal = why;
    }
    return false;
}

bool BufrFileDecoder::holdIngestDirectory()
{
    const DirectoryLock::State state = _ingestLock.acquire(_ingestDir);
    if (_ingestLock.replaced()) {
        FLOW_LOG(PROBLEM) << "The ingest directory " << _ingestDir
                          << " was removed or replaced while this decoder process held it"
                          << (state == DirectoryLock::HELD ? "; it holds the new one" : "")
                          << std::endl;
    }
    if (state != _loggedLockState) {
        // A missing directory is the listing's to report.
        if (state == DirectoryLock::BUSY) {
            FLOW_LOG(PROBLEM) << "The ingest directory " << _ingestDir
                              << " is held by another decoder process; this one leaves its "
                                 "files alone"
                              << std::endl;
        } else if (state == DirectoryLock::UNAVAILABLE && _ingestLock.error() != ENOENT) {
            FLOW_LOG(PROBLEM) << "Unable to lock the ingest directory " << _ingestDir << ": "
                              << std::strerror(_ingestLock.error())
                              << "; another decoder process is not kept out of it" << std::endl;
        }
        _loggedLockState = state;
    }
    return state != DirectoryLock::BUSY;
}

void BufrFileDecoder::setSleeper(Sleeper sleeper)
{
    theSleeper = sleeper;
}

int BufrFileDecoder::selectSleep(unsigned long microseconds)
{
    struct timeval timeout;
    timeout.tv_sec = static_cast<time_t>(microseconds / 1000000);
    timeout.tv_usec = static_cast<suseconds_t>(microseconds % 1000000);
    return select(0, nullptr, nullptr, nullptr, &timeout);
}

TextString BufrFileDecoder::readingTraceName() const
{
    return TextString();
}

bool BufrFileDecoder::checkDesignator(const TextString&)
{
    return true;
}

void BufrFileDecoder::processBufrDirectory()
{
    BufrSignalClient::instance()->setDirectories(_ingestDir, _badDir);
    _retryPass = false;
    // A stop asked for meanwhile is acted on at the process's next wait;
    // the files wait for the next start.
    if (SignalCatcher::stopRequested() || !openIngestDirectory())
        return;
    // Every file of the pass is reached through the directory opened now,
    // whatever is laid at its path meanwhile.
    struct Closer {
        int& fd;
        bool& passOpen;
        ~Closer()
        {
            if (fd >= 0)
                close(fd);
            fd = -1;
            passOpen = false;
            BufrSignalClient::instance()->setDirectoryDescriptor(-1);
        }
    } closer{_ingestFd, _passOpen};
    _passOpen = true;
    BufrSignalClient::instance()->setDirectoryDescriptor(_ingestFd);
    if (!holdIngestDirectory())
        return;
    // Stores that could not use their journals try them again.
    NetcdfPointData::retryJournals();
    if (_record.patternFetch == PATTERN_PER_PASS)
        getBufrPattern();

    const TextString directory = _ingestDir + "/";
    std::vector<TextString> names;
    const bool listed = listFiles(directory, names);
    if (_record.logDirectoryName)
        FLOW_LOG(DEBUG) << "processBufrDirectory: directory name " << LogText(directory)
                        << std::endl;

    const int count = static_cast<int>(names.size());
    for (int i = 0; i < count; ++i) {
        if (SignalCatcher::stopRequested()) {
            FLOW_LOG(EVENT) << "A stop is asked for: " << count - i << " files of "
                            << LogText(directory) << " stay for the next start" << std::endl;
            break;
        }
        try {
            processFile(directory, names[i], i, count);
            if (!_stored.empty() && (_stored.size() >= MAX_STORED ||
                                     monotonicMillis() - _storedSince >= MAX_STORED_MILLIS))
                commitStored();
        } catch (const std::exception& e) {
            // Only an allocation can fail here; the file stays for the next
            // pass.
            FLOW_LOG(PROBLEM) << "Unable to handle file " << LogText(directory + names[i])
                              << ": " << e.what() << std::endl;
        }
    }
    commitStored();
    // Moves and unlinks still to be made are kept for the files that are
    // still there.
    if (listed) {
        std::set<std::string> present;
        for (const TextString& name : names)
            present.insert(name.c_str());
        for (auto it = _pendingDisposals.begin(); it != _pendingDisposals.end();)
            it = present.count(it->first) ? std::next(it) : _pendingDisposals.erase(it);
        for (auto it = _deferredLogged.begin(); it != _deferredLogged.end();)
            it = present.count(it->first) ? std::next(it) : _deferredLogged.erase(it);
        for (auto it = _waiting.begin(); it != _waiting.end();)
            it = present.count(it->first) ? std::next(it) : _waiting.erase(it);
    }
    FLOW_LOG(DEBUG) << "exiting processBufrDirectory(): directory name " << LogText(directory)
                    << std::endl;
}

void BufrFileDecoder::commitStored()
{
    if (_stored.empty())
        return;
    // The records of every bulletin of the group reach the disk before any
    // of them leaves the ingest directory; a failed sync is a failed write.
    std::string why;
    const bool committed = DiskCommit::commit(why);
    std::vector<Stored> stored;
    stored.swap(_stored);
    for (const Stored& bulletin : stored) {
        _inHand = bulletin.file;
        if (committed && bulletin.reason.length() == 0) {
            FLOW_LOG(VERBOSE) << "....and unlinking file " << LogText(bulletin.path) << std::endl;
            deleteFile(bulletin.path);
        } else if (committed) {
            moveAside(bulletin.reason, bulletin.cause, bulletin.path);
        } else {
            // A bulletin stored whole has no reason or cause of its own.
            moveAside(bulletin.reason.length() > 0 ? bulletin.reason
                                                   : TextString(_record.failedWriteReason),
                      bulletin.cause.length() > 0 ? bulletin.cause + "; " + why.c_str()
                                                  : TextString(why.c_str()),
                      bulletin.path);
        }
    }
    _inHand = InHand();
}

bool BufrFileDecoder::listFiles(const TextString& directory, std::vector<TextString>& names)
{
    if (_record.listingPattern && !_listingCompiled) {
        const int status = regcomp(&_listingRegex, _record.listingPattern, REG_NOSUB);
        if (status != 0) {
            char reason[256];
            regerror(status, &_listingRegex, reason, sizeof reason);
            FLOW_LOG(BUG) << "The listing pattern " << _record.listingPattern
                          << " does not compile: " << reason << std::endl;
            return false;
        }
        _listingCompiled = true;
    }
    // Every name that does not begin with "."; the pattern is applied here,
    // so that the names it leaves out are known.
    Directory listing;
    listing.directory = directory;
    listing.descriptor = _ingestFd;
    const int error = listing.scan();
    if (error != 0) {
        _retryPass = isShortage(error);
        return false;
    }
    std::set<std::string> unlisted;
    for (int i = 0; i < listing.count(); ++i) {
        const TextString& name = listing.fileName(i);
        if (!_listingCompiled || regexec(&_listingRegex, name.c_str(), 0, nullptr, 0) == 0) {
            names.push_back(name);
            continue;
        }
        unlisted.insert(name.c_str());
        if (!_unlistedLogged.count(name.c_str())) {
            FLOW_LOG(PROBLEM) << "File " << LogText(directory + name) << " does not match "
                              << _record.listingPattern
                              << ", the pattern of this decoder's files; it is left where it is"
                              << std::endl;
        }
    }
    _unlistedLogged.swap(unlisted);
    if (_record.sortedListing) {
        std::sort(names.begin(), names.end(), [](const TextString& a, const TextString& b) {
            return std::strcmp(a.c_str(), b.c_str()) < 0;
        });
    }
    return true;
}

void BufrFileDecoder::processFile(const TextString& directory, const TextString& name,
                                  int index, int count)
{
    BufrSignalClient::instance()->setFileName(name);
    const TextString path = directory + name;
    FLOW_LOG(DEBUG) << "processBufrDirectory: file name " << LogText(name) << std::endl;
    _inHand = InHand();

    // A file already handled that could not be moved aside or unlinked:
    // only that is tried again.
    const auto pending = _pendingDisposals.find(name.c_str());
    if (pending != _pendingDisposals.end()) {
        FileIdentity file;
        if (identify(path, file) && file == pending->second.file) {
            // Disposal drops the entry.
            const TextString reason = pending->second.reason;
            const TextString cause = pending->second.cause;
            if (reason.length() == 0)
                deleteFile(path);
            else
                moveAside(reason, cause, path);
            return;
        }
        _pendingDisposals.erase(pending);
    }
    // A bulletin waiting for a store's journal, while no journal could be
    // used again.
    const auto waiting = _waiting.find(name.c_str());
    if (waiting != _waiting.end()) {
        FileIdentity file;
        if (identify(path, file) && file == waiting->second.file &&
            waiting->second.recoveries == NetcdfPointData::journalRecoveries()) {
            _retryPass = true;
            return;
        }
        _waiting.erase(waiting);
    }

    struct stat info;
    const char* entry = nullptr;
    const int dir = directoryOf(path, entry);
    if (fstatat(dir, entry, &info, 0) != 0) {
        const int error = errno;
        FLOW_LOG(PROBLEM) << _record.statFailureText << LogText(path) << ": "
                          << std::strerror(error) << std::endl;
        moveAside("Unable to stat", std::strerror(error), path);
        return;
    }
    // From here on the file is disposed of only while its name holds it.
    _inHand = InHand{name.c_str(), identityOf(info), true};
    if (info.st_size == 0) {
        // Its writer may not have filled it yet.
        const long long age = static_cast<long long>(std::time(nullptr)) - info.st_mtim.tv_sec;
        if (age < EMPTY_FILE_SECONDS && age > -EMPTY_FILE_SECONDS) {
            deferFile(path, _inHand.file, "is empty and was written less than a minute ago");
            return;
        }
        const bool removed = deleteFile(path);
        FLOW_LOG(EVENT) << "No data in datafile " << LogText(path)
                        << (removed ? "; it was removed" : "") << std::endl;
        return;
    }
    if (_record.patternFetch == PATTERN_PER_FILE) {
        const TextString pattern = getBufrPattern();
        FLOW_LOG(VERBOSE) << "BUFR Pattern [" << LogText(pattern) << "]" << std::endl;
    }
    if (!checkFileName(name)) {
        moveFile("Invalid file name", path);
        pause();
        return;
    }

    bool decoded = false;
    _listed = identityOf(info);
    _listedKnown = true;
    const ReadResult outcome = readBufrFile(index, count, directory, name, decoded);
    _listedKnown = false;
    if (outcome != FILE_READ)
        return;
    FLOW_LOG(EVENT) << LogText(path) << std::endl;

    // Every message of the file, one after another, each stored as a file
    // of one.  The file is unlinked when each was stored or had nothing to
    // store (once the records stored are on the disk), and moved aside with
    // the reason of the first that failed otherwise (the others stay
    // stored), naming that message by its number and octet in a file of
    // several.  A message whose frame is not whole is refused by the
    // decoder (which names why), and the next is looked for inside it.
    // Past the first few refused frames of a file, the others are counted
    // in one line at its end, and their messages are named only when their
    // frame is whole (frameAccepted): a file of garbage costs a bounded log.
    // A stop asked for between two messages leaves the file for the next
    // start, which takes again what was stored of it.
    int messages = 0, failed = 0, storedCount = 0, decodedCount = 0;
    long refusedFrames = 0;
    const unsigned refusals = NetcdfPointData::journalRefusals();
    TextString reason, cause;
    for (long at = 0; at >= 0;) {
        if (SignalCatcher::stopRequested()) {
            FLOW_LOG(EVENT) << "A stop is asked for: " << LogText(path) << " stays in the ingest "
                            << "directory for the next start, " << messages << " of its "
                            << "messages handled" << std::endl;
            _fileBytes.reset();
            _inHand = InHand();
            return;
        }
        ++messages;
        if (messages > 1) {
            _entry = MessageEntry{true, index, count, name, messages, at};
            _quietRefusals = refusedFrames >= LOGGED_REFUSED_FRAMES;
            if (!_quietRefusals)
                logMessageEntry();
            // The file's own octets: not the NUL the buffer ends in.
            decoded = decode(_fileBytes.get(), _fileBytesSize - 1, static_cast<unsigned>(at));
            _quietRefusals = false;
            _entry.pending = false;
        }
        if (!frameWhole())
            ++refusedFrames;
        const long next = nextMessage();
        int result = -1;
        if (decoded) {
            ++decodedCount;
            result = storeDecodedFile(path);
            if (result == 1) {
                ++storedCount;
                FLOW_LOG(EVENT) << _record.storedText << LogText(_netcdfFileName) << std::endl;
            }
        }
        if (result != 0 && result != 1) {
            if (failed == 0) {
                reason = !decoded                    ? TextString("Unable to parse")
                         : _setAsideReason.length() ? _setAsideReason
                                                    : TextString(_record.failedWriteReason);
                cause = !decoded ? decodeFailure() : TextString();
                if (messages > 1 || next > 0) {
                    // The message of the file that failed first, and the
                    // octet of the file where its "BUFR" is.
                    const long start = messageStart() >= 0 ? messageStart() : at;
                    cause = TextString("message ") + std::to_string(messages).c_str() +
                            " at octet " + groupedDigits(start).c_str() +
                            (cause.length() > 0 ? TextString(": ") + cause : TextString());
                }
            }
            ++failed;
        }
        at = next > at ? next : -1;
    }
    if (refusedFrames > LOGGED_REFUSED_FRAMES)
        FLOW_LOG(PROBLEM) << groupedDigits(refusedFrames - LOGGED_REFUSED_FRAMES)
                          << " more frames refused in this file, " << LogText(path)
                          << ", were not logged one by one" << std::endl;
    _fileBytes.reset();

    if (NetcdfPointData::journalRefusals() != refusals) {
        // A store that cannot use its journal refused its records: nothing
        // is wrong with the bulletin, which waits (what it stored elsewhere
        // is taken again).
        FLOW_LOG(EVENT) << LogText(path) << " waits in the ingest directory until the pass "
                        << "journal of its store can be used" << std::endl;
        _waiting[name.c_str()] = Waiting{_inHand.file, NetcdfPointData::journalRecoveries()};
        _retryPass = true;
        _inHand = InHand();
        pause();
        return;
    }
    if (failed > 0 && messages > 1) {
        char counts[64];
        std::snprintf(counts, sizeof counts, " (%d of %d messages)", failed, messages);
        reason = TextString(reason) + counts;
    }
    if (failed == 0 && storedCount == 0) {
        FLOW_LOG(VERBOSE) << "Unlinking file " << LogText(path) << std::endl;
        deleteFile(path);
    } else if (storedCount > 0 || (decodedCount > 0 && DiskCommit::pending())) {
        // Unlinked, or set aside, once the records it placed are on the
        // disk, with the others of its group (commitStored): set aside
        // before, a power loss would leave its records uncommitted and the
        // bulletin no longer there to store them again.
        if (_stored.empty())
            _storedSince = monotonicMillis();
        _stored.push_back(Stored{path, _inHand, failed > 0 ? reason : TextString(),
                                 failed > 0 ? cause : TextString()});
    } else {
        moveAside(reason, cause, path);
    }
    _inHand = InHand();
    // No pause after a file none of whose messages could be decoded.
    if (decodedCount > 0)
        pause();
    // Outside a pass (a single file handled) nothing waits for a group.
    if (!_passOpen)
        commitStored();
}

void BufrFileDecoder::frameAccepted()
{
    logMessageEntry();
}

void BufrFileDecoder::logMessageEntry()
{
    if (!_entry.pending)
        return;
    FLOW_LOG(EVENT) << "MXR_ENTRY [" << _entry.index + 1 << "/" << _entry.count
                    << "] = " << LogText(_entry.name) << ": message " << _entry.message
                    << " of the file at octet " << groupedDigits(_entry.at) << std::endl;
    _entry.pending = false;
}

int BufrFileDecoder::setAside(const TextString& reason)
{
    _setAsideReason = reason;
    return -1;
}

int BufrFileDecoder::storeDecodedFile(const TextString& path)
{
    _setAsideReason = TextString();
    try {
        return write2NetcdfFile();
    } catch (const std::exception& e) {
        FLOW_LOG(PROBLEM) << "Storing the data of " << LogText(path) << " failed: " << e.what()
                          << std::endl;
        return -1;
    }
}

void BufrFileDecoder::pause()
{
    if (_record.pauseMicroseconds > 0)
        wait(_record.pauseMicroseconds);
}

BufrFileDecoder::ReadResult BufrFileDecoder::readBufrFile(int index, int count,
                                                          const TextString& directory,
                                                          const TextString& name, bool& decoded)
{
    decoded = false;
    const TextString path = directory + name;
    // Opened once, never waiting: not for a FIFO put at the name (no
    // writer), nor for the owner of a write lease on the file.  A link is
    // not followed by this open; it is read through what it points to, as
    // the listing's stat saw it, and checked as a file is.
    const char* entry = nullptr;
    const int dir = directoryOf(path, entry);
    int fd = openat(dir, entry, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ELOOP)
        fd = openat(dir, entry, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == EWOULDBLOCK || error == EAGAIN) {
            // The open has asked the lease's owner to let go; a later pass
            // finds the file free.
            deferFile(path, _listedKnown ? _listed : FileIdentity(),
                      TextString("is under another process's lease (") + std::strerror(error) +
                          ")");
            return FILE_DEFERRED;
        }
        FLOW_LOG(PROBLEM) << "MXR_FAIL fopen() failed on file " << LogText(name) << std::endl;
        FLOW_LOG(PROBLEM) << "\t" << std::strerror(error) << std::endl;
        if (error == ENOENT)
            return FILE_VANISHED;
        if (isShortage(error)) {
            _retryPass = true;
            return FILE_DEFERRED;
        }
        moveAside("Unable to open", std::strerror(error), path);
        return FILE_UNREADABLE;
    }
    std::unique_ptr<int, DescriptorCloser> file(&fd);

    // The size of the file that is open, whatever happened to the name
    // since the listing.
    struct stat info;
    if (fstat(fd, &info) != 0) {
        const int error = errno;
        FLOW_LOG(PROBLEM) << _record.statFailureText << LogText(path) << ": " << std::strerror(error)
                          << std::endl;
        file.reset();
        moveAside("Unable to stat", std::strerror(error), path);
        return FILE_UNREADABLE;
    }
    // Another file than the one the pass checked (its name taken by a new
    // file, a FIFO or a directory meanwhile), or the file changed since, is
    // not read: the next pass checks what is there then.
    const FileIdentity opened = identityOf(info);
    if (_listedKnown && !(opened == _listed)) {
        deferFile(path, opened, "changed while it was being checked");
        return FILE_DEFERRED;
    }
    _deferredLogged.erase(name.c_str());
    BufrSignalClient::instance()->setFileIdentity(info.st_dev, info.st_ino);
    // The decoder takes the buffer's length (the size and one byte more) as
    // an unsigned int: a larger file is refused, never cut short.
    const uint64_t size = info.st_size > 0 ? static_cast<uint64_t>(info.st_size) : 0;
    if (size >= UINT_MAX) {
        FLOW_LOG(PROBLEM) << "File " << LogText(name) << " holds " << size
                          << " bytes, more than one BUFR buffer can take" << std::endl;
        file.reset();
        moveAside("Unable to parse", "more bytes than one BUFR buffer can take", path);
        return FILE_UNREADABLE;
    }
    const unsigned bufferSize = static_cast<unsigned>(size) + 1;
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[bufferSize]);
    if (!buffer) {
        FLOW_LOG(PROBLEM) << "Unable to allocate " << bufferSize << " bytes to read file "
                          << LogText(name) << std::endl;
        file.reset();
        moveAside("Unable to parse", "no memory to read it", path);
        return FILE_UNREADABLE;
    }
    buffer[bufferSize - 1] = 0;

    if (_record.logInputFileName)
        FLOW_LOG(EVENT) << " Input File Name :" << LogText(name) << std::endl;
    FLOW_LOG(EVENT) << "MXR_ENTRY [" << index + 1 << "/" << count << "] = " << LogText(name) << ": "
                    << bufferSize << " bytes" << std::endl;
    if (_record.readingTrace)
        FLOW_LOG(DEBUG) << "Getting " << readingTraceName() << _record.readingTrace << std::endl;

    size_t got = 0;
    int error = 0;
    while (got < size) {
        const ssize_t n = read(fd, buffer.get() + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : 0;
            break;
        }
        got += static_cast<size_t>(n);
    }
    if (got < size) {
        const bool failed = error != 0;
        FLOW_LOG(PROBLEM) << "Only able to read " << got << " bytes of " << size
                          << " bytes in file, " << LogText(name) << "; "
                          << (failed ? std::strerror(error) : "unexpected end of file")
                          << std::endl;
        file.reset();
        moveAside("Unable to parse",
                  TextString("only ") + std::to_string(got).c_str() + " of its " +
                      std::to_string(size).c_str() + " bytes could be read",
                  path);
        return FILE_UNREADABLE;
    }
    file.reset();
    // The file's own octets: the NUL after them is not the file's.
    decoded = decode(buffer.get(), bufferSize - 1);
    // Kept for the later messages of the file.
    _fileBytes = std::move(buffer);
    _fileBytesSize = bufferSize;
    return FILE_READ;
}

bool BufrFileDecoder::checkFileName(const TextString& name)
{
    const TextString prefix = name.subString(0, 4);
    // A name of 4 characters or fewer has no designator (the index check
    // logs it).
    const TextString designator = name.subString(4, 2);
    FLOW_LOG(DEBUG) << "filePrefixChk: " << LogText(prefix) << std::endl;
    FLOW_LOG(DEBUG) << "fileDesignatorChk: " << LogText(designator) << std::endl;
    if (!_prefixSet.find(prefix)) {
        FLOW_LOG(PROBLEM) << "File " << LogText(name) << _record.rejectionText << std::endl;
        return false;
    }
    const regex_t* designators = designatorPattern(prefix);
    if (!designators)
        return true;
    bool accepted = checkDesignator(designator);
    if (!matchPattern(designator, designators)) {
        FLOW_LOG(PROBLEM) << "Invalid data: WMO region designator <" << LogText(designator)
                          << "> not in search tree, data not stored." << std::endl;
        accepted = false;
    }
    return accepted;
}

bool BufrFileDecoder::moveFile(const TextString& reason, const TextString& path)
{
    return moveAside(reason, TextString(), path);
}

bool BufrFileDecoder::holdsFileInHand(const TextString& path)
{
    const TextString name = fileNameOf(path);
    if (!_inHand.known || _inHand.name != name.c_str())
        return true;
    const char* entry = nullptr;
    const int dir = directoryOf(path, entry);
    struct stat info;
    if (fstatat(dir, entry, &info, 0) != 0) {
        // Gone: nothing is left to dispose of.
        FLOW_LOG(VERBOSE) << LogText(path) << " is gone: " << std::strerror(errno) << std::endl;
        return false;
    }
    const FileIdentity now = identityOf(info);
    if (now == _inHand.file)
        return true;
    // Renamed over, written anew or changed otherwise while it was handled
    // (its mode or owner; or written with its modification time set back,
    // which only the change time shows): what the name holds now is taken
    // as another bulletin, for the next pass.
    const FileIdentity& was = _inHand.file;
    const bool same = now.device == was.device && now.inode == was.inode;
    const bool written = now.size != was.size || now.modifiedSeconds != was.modifiedSeconds ||
                         now.modifiedNanoseconds != was.modifiedNanoseconds;
    deferFile(path, now,
              !same     ? "was replaced by another file while it was handled"
              : written ? "was written while it was handled"
                        : "was changed while it was handled");
    return false;
}

bool BufrFileDecoder::moveAside(const TextString& reason, const TextString& cause,
                                const TextString& path)
{
    if (!holdsFileInHand(path))
        return false;
    const TextString name = fileNameOf(path);
    // Both directories are opened a part at a time: a link or another
    // user's directory laid in place of the bad-file directory, or of a part
    // of either path, never takes the file elsewhere.
    const char* entry = nullptr;
    int sourceFd = directoryOf(path, entry);
    // The pass's directory where the file is one of it; else its path's.
    std::unique_ptr<SafeDirectory> source;
    if (sourceFd == AT_FDCWD) {
        const std::string from = path.c_str();
        source.reset(new SafeDirectory(from.substr(0, from.size() - name.length())));
        sourceFd = source->fd();
    }
    const SafeDirectory bad(_badDir.c_str(), SafeDirectory::OTHERS_DIRECTORIES);
    char used[PATH_MAX];
    std::snprintf(used, sizeof used, "%s", name.c_str());
    int error = 0;
    std::string why;
    const SafeDirectory* const opened[] = {source.get(), &bad};
    for (const SafeDirectory* dir : opened) {
        if (dir && error == 0 && !dir->ok()) {
            error = dir->failure().error;
            why = dir->failure().refusal == SafeDirectory::SYSTEM ? std::strerror(error)
                                                                   : dir->failureText();
        }
    }
    if (error == 0) {
        error = renameToFreeNameAt(sourceFd, name.c_str(), bad.fd(), name.c_str(), used,
                                   sizeof used);
        why = std::strerror(error);
    }
    const TextString target = _badDir + "/" + used;
    if (error == 0) {
        _pendingDisposals.erase(name.c_str());
        // A PROBLEM line: whoever watches only problems learns which file
        // was set aside, why, where it is, and what the decoder or the
        // store found.
        FLOW_LOG(PROBLEM) << reason << " " << LogText(path) << ", renamed to "
                          << LogText(target)
                          << (cause.length() > 0 ? ": " : "") << LogText(cause) << std::endl;
        return true;
    }
    bool present = false;
    if (notePendingDisposal(reason, cause, path, error, present)) {
        FLOW_LOG(PROBLEM) << "Unable to move " << LogText(path) << " to " << LogText(target)
                          << std::endl;
        FLOW_LOG(PROBLEM) << LogText(path) << " FAILED on rename() command: " << why
                          << (present ? "; it stays in the ingest directory until it can be "
                                        "moved"
                                      : "")
                          << std::endl;
    }
    return false;
}

bool BufrFileDecoder::deleteFile(const TextString& path)
{
    if (!holdsFileInHand(path))
        return false;
    const char* entry = nullptr;
    const int dir = directoryOf(path, entry);
    if (unlinkat(dir, entry, 0) == 0) {
        _pendingDisposals.erase(fileNameOf(path).c_str());
        FLOW_LOG(VERBOSE) << LogText(path) << " deleted" << std::endl;
        return true;
    }
    const int error = errno;
    bool present = false;
    if (notePendingDisposal(TextString(), TextString(), path, error, present)) {
        FLOW_LOG(PROBLEM) << LogText(path) << " FAILED on unlink() command: "
                          << std::strerror(error)
                          << (present ? "; it is left where it is and not handled again until "
                                        "it changes"
                                      : "")
                          << std::endl;
    }
    return false;
}

void BufrFileDecoder::deferFile(const TextString& path, const FileIdentity& file,
                                const TextString& why)
{
    _retryPass = true;
    const std::string name = fileNameOf(path).c_str();
    const auto logged = _deferredLogged.find(name);
    if (logged != _deferredLogged.end() && logged->second == file)
        return;
    _deferredLogged[name] = file;
    FLOW_LOG(PROBLEM) << "File " << LogText(path) << " " << why << "; it is left for the next pass"
                      << std::endl;
}

bool BufrFileDecoder::notePendingDisposal(const TextString& reason, const TextString& cause,
                                          const TextString& path, int error, bool& present)
{
    const std::string name = fileNameOf(path).c_str();
    FileIdentity file;
    present = identify(path, file);
    const auto known = _pendingDisposals.find(name);
    const bool news = known == _pendingDisposals.end() || !(known->second.file == file) ||
                      known->second.error != error || !(known->second.reason == reason);
    if (present)
        _pendingDisposals[name] = PendingDisposal{reason, cause, file, error};
    else
        _pendingDisposals.erase(name);
    return news;
}

int BufrFileDecoder::wait(unsigned long microseconds)
{
    char text[64];
    std::snprintf(text, sizeof text, "Waiting %5.3f seconds......", microseconds / 1e6);
    FLOW_LOG(DEBUG) << text << std::endl;
    return (theSleeper ? theSleeper : selectSleep)(microseconds);
}
