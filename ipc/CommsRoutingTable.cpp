#include "CommsRoutingTable.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "CommsMessage.h"
#include "CommsRoutingEntry.h"
#include "IPC_Target.h"
#include "LogStream.h"
#include "LogText.h"
#include "PeerLineCap.h"
#include "SafeDirectory.h"
#include "readWordLines.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

const char* const sourceFile = "CommsRoutingTable";

bool holdsWhitespace(const TextString& text)
{
    return std::strpbrk(text.c_str(), " \t\r\n\v\f") != nullptr;
}

}  // namespace

CommsRoutingTable::CommsRoutingTable()
{
    const char* data = std::getenv("QEV_DATA");
    _fileName = TextString(data ? data : "") + TextString("/workFiles/");
}

CommsRoutingTable::~CommsRoutingTable()
{
    for (int i = 0; i < _entries.length(); ++i)
        delete _entries[i];
}

CommsRoutingTable* CommsRoutingTable::instance()
{
    static CommsRoutingTable* table = new CommsRoutingTable;
    return table;
}

int CommsRoutingTable::save()
{
    return saveFor(IPC_Target());
}

int CommsRoutingTable::saveFor(const IPC_Target& client)
{
    auto logged = [&client](const char* kind) {
        return PeerLineCap::admit(LogStream::PROBLEM, sourceFile, kind, client);
    };
    // The file lies in the data tree, where other accounts may write: its
    // directory is opened a part at a time, the scratch file made in it
    // without following a link at its name, and renamed within it.
    size_t nameAt = 0;
    SafeDirectory::Failure refused;
    const int dir = SafeDirectory::openParent(_fileName.c_str(), &nameAt, 0, &refused);
    const TextString scratch = _fileName + TextString(".new");
    if (dir < 0) {
        if (logged("Can't open the clients file"))
            QEV_LOG(LogStream::PROBLEM, sourceFile)
                << "Can't open " << LogText(scratch) << ": " << SafeDirectory::reasonText(refused)
                << std::endl;
        return 0;
    }
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{dir};
    const std::string name(_fileName.c_str() + nameAt);
    const std::string scratchName = name + ".new";
    if (_entries.length() == 0) {
        unlinkat(dir, name.c_str(), 0);
        return 1;
    }
    std::ostringstream text;
    for (int i = 0; i < _entries.length(); ++i)
        text << *_entries[i] << "\n";
    const std::string lines = text.str();

    const int fd = SafeDirectory::openFileAt(dir, scratchName.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                             0666, SafeDirectory::REGULAR_FILE, &refused);
    FILE* file = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (!file) {
        if (fd >= 0)
            close(fd);
        if (logged("Can't open the clients file"))
            QEV_LOG(LogStream::PROBLEM, sourceFile)
                << "Can't open " << LogText(scratch) << ": " << SafeDirectory::reasonText(refused)
                << std::endl;
        return 0;
    }
    const bool written = std::fwrite(lines.data(), 1, lines.size(), file) == lines.size();
    if (std::fclose(file) != 0 || !written) {
        if (logged("Can't write the clients file"))
            QEV_LOG(LogStream::PROBLEM, sourceFile) << "Can't write " << LogText(scratch) << ": "
                                                    << std::strerror(errno) << std::endl;
        unlinkat(dir, scratchName.c_str(), 0);
        return 0;
    }
    if (renameat(dir, scratchName.c_str(), dir, name.c_str()) != 0) {
        if (logged("Can't rename the clients file"))
            QEV_LOG(LogStream::PROBLEM, sourceFile)
                << "Can't rename " << LogText(scratch) << " to " << LogText(_fileName) << ": "
                << std::strerror(errno) << std::endl;
        unlinkat(dir, scratchName.c_str(), 0);
        return 0;
    }
    return 1;
}

int CommsRoutingTable::addClient(const IPC_Target& target, const TextString& pattern)
{
    if (pattern.length() == 0 || holdsWhitespace(pattern)) {
        if (PeerLineCap::admit(LogStream::PROBLEM, sourceFile,
                               "Client refused: a pattern must be one word", target))
            QEV_LOG(LogStream::PROBLEM, sourceFile)
                << "Client " << target << " refused: a pattern must be one word, not \""
                << LogText(pattern) << "\"" << std::endl;
        return 0;
    }
    removeClient(target);
    _entries.append(new CommsRoutingEntry(target, pattern));
    return saveFor(target);
}

int CommsRoutingTable::removeClient(const IPC_Target& target)
{
    for (int i = 0; i < _entries.length(); ++i) {
        if (_entries[i]->isTarget(target)) {
            delete _entries[i];
            _entries.remove(i, i);
            break;
        }
    }
    return saveFor(target);
}

void CommsRoutingTable::routeData(TextString* key, long productId, long length,
                                  unsigned char* bytes)
{
    if (!key)
        return;
    CommsMessage* message = CommsMessage::newCDMsg(*key, productId, length, bytes);
    // A client removed on the way is behind the walk: the indices still to
    // come do not move.
    for (int i = _entries.length() - 1; i >= 0; --i) {
        if (!_entries[i]->matches(key->c_str()))
            continue;
        const IPC_Target target = _entries[i]->target();
        if (message->send(target) != 0) {
            QEV_LOG(LogStream::PROBLEM, sourceFile) << "Error sending data message to "
                                                    << target << std::endl;
            removeClient(target);
        }
    }
    delete message;
}

int CommsRoutingTable::load(const TextString& name)
{
    _fileName += name;
    _fileName += "_clients.txt";
    FILE* file = std::fopen(_fileName.c_str(), "r");
    if (!file) {
        QEV_LOG(LogStream::EVENT, sourceFile) << "No clients are currently registered with the "
                                              << LogText(name) << "." << std::endl;
        return 0;
    }
    QEV_LOG(LogStream::EVENT, sourceFile) << "Reconnecting to registered clients." << std::endl;
    CommsMessage* notice = CommsMessage::newRestartMsg();
    const bool read = readWordLines(
        file, _fileName, CLIENT_LINE_MAX, CLIENT_WORD_MAX,
        [&](int lineNumber, const std::vector<TextString>& words) {
            if (words.size() != 2) {
                logSkippedLine(_fileName, lineNumber, "not a target and a pattern");
                return true;
            }
            const IPC_Target target(words[0]);
            if (notice->send(target) == 0)
                _entries.append(new CommsRoutingEntry(target, words[1]));
            return true;
        });
    delete notice;
    std::fclose(file);
    if (!read) {
        // The file keeps the clients that were not read.
        QEV_LOG(LogStream::PROBLEM, sourceFile) << "Can't read " << LogText(_fileName) << ": "
                                                << std::strerror(errno) << std::endl;
        return 1;
    }
    save();
    return 1;
}
