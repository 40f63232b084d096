#include "WirePeer.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

typedef std::chrono::steady_clock Clock;

Clock::time_point deadlineIn(int timeoutMs)
{
    return Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
}

// Milliseconds left until the deadline, at most `slice` (0 when passed).
int msLeft(Clock::time_point deadline, int slice)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<long long>(0, std::min<long long>(left.count(), slice)));
}

void noDelay(int fd)
{
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

sockaddr_in loopbackAddress(uint16_t port)
{
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(WirePeer::LOOPBACK);
    return a;
}

}  // namespace

// One TCP connection.  The descriptor is closed when the last holder lets go:
// the connection table, the serving thread's poll set of the moment, or a
// writer, so a descriptor number is never reused while one of them uses it.
struct WirePeer::Conn {
    int id = 0;
    int fd = -1;
    bool accepted = false;
    std::atomic<bool> closing{false};   // writers give up when set
    Bytes in;                           // unframed bytes, serving thread only
    std::mutex writeMutex;              // one writer at a time

    ~Conn()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// ---------------------------------------------------------------- codec

WirePeer::Target WirePeer::Target::address(uint32_t host, uint16_t port, int32_t pid)
{
    Target t;
    t.kind = 2;
    t.host = host;
    t.port = port;
    t.pid = pid;
    return t;
}

std::string WirePeer::Target::text() const
{
    if (kind == 1)
        return name;
    if (kind != 2)
        return "NULL";
    return std::to_string(host >> 24) + "." + std::to_string((host >> 16) & 0xff) + "." +
           std::to_string((host >> 8) & 0xff) + "." + std::to_string(host & 0xff) + "/" +
           std::to_string(port) + "/" + std::to_string(pid);
}

WirePeer::DataTime WirePeer::DataTime::observation(int32_t t)
{
    DataTime d;
    d.refTime = t;
    d.validStart = t;
    d.validEnd = t;
    d.secondTime = t;
    return d;
}

void WirePeer::putWord(Bytes& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(value >> shift));
}

void WirePeer::putOpaque(Bytes& out, const Bytes& bytes)
{
    putWord(out, static_cast<uint32_t>(bytes.size()));
    putWord(out, static_cast<uint32_t>(bytes.size()));
    out.insert(out.end(), bytes.begin(), bytes.end());
    out.resize(out.size() + (4 - bytes.size() % 4) % 4, 0);
}

void WirePeer::putString(Bytes& out, const std::string& text)
{
    putOpaque(out, Bytes(text.begin(), text.end()));
}

void WirePeer::putTarget(Bytes& out, const Target& target)
{
    putWord(out, static_cast<uint32_t>(target.kind));
    putWord(out, target.family);
    putWord(out, target.host);
    putWord(out, target.port);
    putWord(out, static_cast<uint32_t>(target.pid));
    putString(out, target.name);
}

void WirePeer::putDataTime(Bytes& out, const DataTime& time)
{
    putWord(out, time.flags);
    putWord(out, static_cast<uint32_t>(time.refTime));
    if (time.flags < 0x400)
        return;
    if (time.flags & 0x400)
        putWord(out, static_cast<uint32_t>(time.fcstPeriod));
    if (time.flags & 0x800) {
        putWord(out, time.validFlag ? 1 : 0);
        putWord(out, static_cast<uint32_t>(time.validStart));
        putWord(out, static_cast<uint32_t>(time.validEnd));
    }
    if (time.flags & 0x2000)
        putWord(out, static_cast<uint32_t>(time.secondTime));
    if (time.flags & 0x1000)
        putWord(out, time.key);
}

WirePeer::Bytes WirePeer::encode(const Target& sender, int32_t module, int32_t type,
                                 const Bytes& body, int32_t priority)
{
    Bytes out;
    putWord(out, 0);
    putTarget(out, sender);
    putWord(out, static_cast<uint32_t>(module));
    putWord(out, static_cast<uint32_t>(priority));
    putWord(out, static_cast<uint32_t>(type));
    out.insert(out.end(), body.begin(), body.end());
    Bytes length;
    putWord(length, static_cast<uint32_t>(out.size()));
    std::copy(length.begin(), length.end(), out.begin());
    return out;
}

WirePeer::Bytes WirePeer::readyMsg(const Target& sender)
{
    return encode(sender, 1, 0, Bytes());
}

WirePeer::Bytes WirePeer::dataReqMsg(const Target& sender, const std::string& pattern)
{
    Bytes body;
    putString(body, pattern);
    return encode(sender, 1, 1, body);
}

WirePeer::Bytes WirePeer::dataMsg(const Target& sender, int32_t productId, const Bytes& bytes)
{
    Bytes body;
    putWord(body, static_cast<uint32_t>(productId));
    putOpaque(body, bytes);
    return encode(sender, 1, 2, body);
}

WirePeer::Bytes WirePeer::childTargetMsg(const Target& sender, uint32_t uniqueId, int32_t pid)
{
    Bytes body;
    putWord(body, uniqueId);
    putWord(body, static_cast<uint32_t>(pid));
    return encode(sender, 5, 0, body);
}

WirePeer::Bytes WirePeer::dataMgmtMsg(const Target& sender, uint32_t key, const DataTime& time)
{
    Bytes body;
    putWord(body, key);
    putDataTime(body, time);
    return encode(sender, 2, 10, body);
}

bool WirePeer::readWord(const Bytes& in, std::size_t& pos, uint32_t* value)
{
    if (in.size() < 4 || pos > in.size() - 4)
        return false;
    *value = (uint32_t(in[pos]) << 24) | (uint32_t(in[pos + 1]) << 16) |
             (uint32_t(in[pos + 2]) << 8) | uint32_t(in[pos + 3]);
    pos += 4;
    return true;
}

// The count, the XDR count (which must agree), the bytes and a zero padding.
bool WirePeer::readOpaque(const Bytes& in, std::size_t& pos, Bytes* bytes, std::string* error)
{
    uint32_t count = 0, xdrCount = 0;
    if (!readWord(in, pos, &count) || !readWord(in, pos, &xdrCount)) {
        *error = "counted bytes: count words cut short";
        return false;
    }
    if (count != xdrCount) {
        *error = "counted bytes: count " + std::to_string(count) + " but XDR count " +
                 std::to_string(xdrCount);
        return false;
    }
    std::size_t padded = (std::size_t(count) + 3) / 4 * 4;
    if (padded > in.size() - pos) {
        *error = "counted bytes: " + std::to_string(count) + " bytes announced, " +
                 std::to_string(in.size() - pos) + " left";
        return false;
    }
    bytes->assign(in.begin() + pos, in.begin() + pos + count);
    for (std::size_t i = pos + count; i < pos + padded; ++i) {
        if (in[i] != 0) {
            *error = "counted bytes: padding not zero";
            return false;
        }
    }
    pos += padded;
    return true;
}

bool WirePeer::readTarget(const Bytes& in, std::size_t& pos, Target* target, std::string* error)
{
    uint32_t kind, family, host, port, pid;
    if (!readWord(in, pos, &kind) || !readWord(in, pos, &family) || !readWord(in, pos, &host) ||
        !readWord(in, pos, &port) || !readWord(in, pos, &pid)) {
        *error = "target cut short";
        return false;
    }
    if (family > 0xffff || port > 0xffff) {
        *error = "target: family or port word above 16 bits";
        return false;
    }
    Bytes name;
    if (!readOpaque(in, pos, &name, error)) {
        *error = "target name: " + *error;
        return false;
    }
    target->kind = static_cast<int32_t>(kind);
    target->family = static_cast<uint16_t>(family);
    target->host = host;
    target->port = static_cast<uint16_t>(port);
    target->pid = static_cast<int32_t>(pid);
    target->name.assign(name.begin(), name.end());
    return true;
}

// The flags form (first word a flags word: one of the bits 0x2F00 and at
// most 0x3FFF) or the older form without flags (first word the reference
// time, then the forecast period and the valid period).
bool WirePeer::readDataTime(const Bytes& in, std::size_t& pos, DataTime* time)
{
    uint32_t w, v;
    if (!readWord(in, pos, &w))
        return false;
    DataTime d;
    auto signedWord = [&](int32_t* field) {
        if (!readWord(in, pos, &v))
            return false;
        *field = static_cast<int32_t>(v);
        return true;
    };
    auto range = [&]() {
        if (!readWord(in, pos, &v))
            return false;
        d.validFlag = v != 0;
        return signedWord(&d.validStart) && signedWord(&d.validEnd);
    };
    if ((w & 0x2F00) == 0 || w > 0x3FFF) {
        d.refTime = static_cast<int32_t>(w);
        d.secondTime = d.refTime;
        d.flags = 0xC00;
        if (!signedWord(&d.fcstPeriod) || !range())
            return false;
        *time = d;
        return true;
    }
    d.flags = w;
    if (!signedWord(&d.refTime))
        return false;
    d.secondTime = d.refTime;
    bool gotRange = false;
    if (d.flags != 0x300) {
        if ((d.flags & 0x400) && !signedWord(&d.fcstPeriod))
            return false;
        if (d.flags & 0x800) {
            if (!range())
                return false;
            gotRange = true;
        }
        if ((d.flags & 0x2000) && !signedWord(&d.secondTime))
            return false;
        if ((d.flags & 0x1000) && !readWord(in, pos, &d.key))
            return false;
    }
    if (!gotRange) {
        int32_t base = (d.flags & 0x200) ? d.secondTime : d.refTime;
        d.validStart = d.validEnd = base + d.fcstPeriod;
        d.validFlag = false;
    }
    *time = d;
    return true;
}

bool WirePeer::decodeBody(Message* m)
{
    const Bytes& b = m->body;
    std::size_t pos = 0;
    uint32_t w1 = 0, w2 = 0;
    bool ok = true;
    std::string error;
    if (m->module == 1 && m->type == 1) {
        Bytes pattern;
        ok = readOpaque(b, pos, &pattern, &error);
        m->pattern.assign(pattern.begin(), pattern.end());
    } else if (m->module == 1 && m->type == 2) {
        ok = readWord(b, pos, &w1) && readOpaque(b, pos, &m->bytes, &error);
        m->productId = static_cast<int32_t>(w1);
    } else if (m->module == 5 && m->type == 0) {
        ok = readWord(b, pos, &w1) && readWord(b, pos, &w2);
        m->uniqueId = w1;
        m->processId = static_cast<int32_t>(w2);
    } else if (m->module == 2 && m->type == 10) {
        ok = readWord(b, pos, &m->key) && readDataTime(b, pos, &m->dataTime);
    } else if (!(m->module == 1 && m->type == 0)) {
        return true;   // not a message the peer knows: the body stays raw
    }
    if (!ok) {
        m->error = "body of " + std::to_string(m->module) + "/" + std::to_string(m->type) +
                   ": " + (error.empty() ? "cut short" : error);
        return false;
    }
    if (pos != b.size()) {
        m->error = "body of " + std::to_string(m->module) + "/" + std::to_string(m->type) +
                   ": " + std::to_string(b.size() - pos) + " bytes left over";
        return false;
    }
    return true;
}

bool WirePeer::decode(const Bytes& raw, Message* out)
{
    Message& m = *out;
    m = Message();
    m.raw = raw;
    std::size_t pos = 0;
    uint32_t module, priority, type;
    if (!readWord(raw, pos, &m.totalLength)) {
        m.error = "no length word";
        return false;
    }
    if (m.totalLength != raw.size()) {
        m.error = "length word " + std::to_string(m.totalLength) + " on " +
                  std::to_string(raw.size()) + " bytes";
        return false;
    }
    if (!readTarget(raw, pos, &m.sender, &m.error)) {
        m.error = "header: " + m.error;
        return false;
    }
    if (!readWord(raw, pos, &module) || !readWord(raw, pos, &priority) ||
        !readWord(raw, pos, &type)) {
        m.error = "header cut short";
        return false;
    }
    m.module = static_cast<int32_t>(module);
    m.priority = static_cast<int32_t>(priority);
    m.type = static_cast<int32_t>(type);
    if (m.type < -32768 || m.type > 32767) {
        m.error = "header: type " + std::to_string(m.type) + " beyond 16 bits";
        return false;
    }
    m.body.assign(raw.begin() + pos, raw.end());
    m.ok = decodeBody(&m);
    return m.ok;
}

std::string WirePeer::namedTargetEntry(const std::string& name) const
{
    return name + ",127.0.0.1," + std::to_string(_self.port);
}

std::string WirePeer::namedTargetsConfig(const std::vector<std::string>& entries)
{
    std::string line = "SeqOfTextString = namedTargets\nSocketConnection.namedTargets : ";
    for (std::size_t i = 0; i < entries.size(); ++i)
        line += (i ? "," : "") + entries[i];
    return line + "\n";
}

// ---------------------------------------------------------------- the peer

WirePeer::WirePeer() : WirePeer(Options()) {}

WirePeer::WirePeer(const Options& options) : _options(options)
{
    if (pipe2(_wakePipe, O_NONBLOCK | O_CLOEXEC) != 0)
        _wakePipe[0] = _wakePipe[1] = -1;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    uint16_t port = 0;
    if (fd >= 0) {
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        setReceiveBuffer(fd);   // accepted connections inherit it
        sockaddr_in a = loopbackAddress(0);
        socklen_t len = sizeof a;
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(fd, 128) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
            port = ntohs(a.sin_port);
        } else {
            ::close(fd);
            fd = -1;
        }
    }
    _listenFd = fd;
    _self = Target::address(LOOPBACK, port, options.pid ? options.pid : getpid());
    _thread = std::thread(&WirePeer::serve, this);
}

WirePeer::~WirePeer()
{
    {
        std::lock_guard<std::mutex> l(_mutex);
        _stop = true;
        for (auto& c : _conns)
            c.second->closing = true;
    }
    wake();
    _thread.join();
    _conns.clear();
    if (_listenFd >= 0)
        ::close(_listenFd);
    for (int fd : _wakePipe)
        if (fd >= 0)
            ::close(fd);
}

bool WirePeer::listening() const
{
    std::lock_guard<std::mutex> l(_mutex);
    return _listenFd >= 0;
}

void WirePeer::wake()
{
    if (_wakePipe[1] >= 0) {
        char c = 1;
        ssize_t n = ::write(_wakePipe[1], &c, 1);
        (void)n;   // a full pipe wakes the thread just as well
    }
}

void WirePeer::setReceiveBuffer(int fd) const
{
    if (_options.receiveBuffer > 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &_options.receiveBuffer,
                   sizeof _options.receiveBuffer);
}

void WirePeer::serve()
{
    std::vector<ConnPtr> watched;
    std::vector<pollfd> fds;
    for (;;) {
        int listenFd;
        {
            std::lock_guard<std::mutex> l(_mutex);
            if (_stop)
                return;
            if (_closeListener && _listenFd >= 0) {
                ::close(_listenFd);
                _listenFd = -1;
                _changed.notify_all();
            }
            listenFd = _listenFd;
            watched.clear();
            if (!_paused)
                for (auto& c : _conns)
                    watched.push_back(c.second);
        }
        fds.assign(1, pollfd{_wakePipe[0], POLLIN, 0});
        if (listenFd >= 0)
            fds.push_back(pollfd{listenFd, POLLIN, 0});
        for (auto& c : watched)
            fds.push_back(pollfd{c->fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), 100) > 0) {
            char drain[64];
            if (fds[0].revents)
                while (::read(_wakePipe[0], drain, sizeof drain) > 0) {}
            std::size_t first = 1;
            if (listenFd >= 0 && fds[first++].revents)
                acceptOne();
            for (std::size_t i = 0; i < watched.size(); ++i)
                if (fds[first + i].revents)
                    readConn(watched[i]);
        }
        watched.clear();   // let closed connections' descriptors go now
    }
}

void WirePeer::acceptOne()
{
    int listenFd;
    {
        std::lock_guard<std::mutex> l(_mutex);
        listenFd = _listenFd;
    }
    for (int i = 0; i < 16; ++i) {
        int fd = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        noDelay(fd);
        addConn(fd, true);
    }
}

int WirePeer::addConn(int fd, bool accepted)
{
    auto c = std::make_shared<Conn>();
    c->fd = fd;
    c->accepted = accepted;
    int id;
    {
        std::lock_guard<std::mutex> l(_mutex);
        id = c->id = _nextConn++;
        _conns[id] = c;
        _changed.notify_all();
    }
    wake();
    return id;
}

void WirePeer::readConn(const ConnPtr& conn)
{
    unsigned char buf[65536];
    bool ended = false;
    // A bounded number of reads per event, so a fast writer cannot hold the
    // thread; the rest waits for the next pass.
    for (int i = 0; i < 16; ++i) {
        ssize_t n = ::read(conn->fd, buf, sizeof buf);
        if (n > 0) {
            conn->in.insert(conn->in.end(), buf, buf + n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        ended = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        break;
    }

    std::vector<Message> got;
    std::string fault;
    std::size_t pos = 0;
    const Bytes& in = conn->in;
    while (in.size() - pos >= 4) {
        std::size_t p = pos;
        uint32_t length = 0;
        readWord(in, p, &length);
        if (length < 4 || length > MAX_MESSAGE) {
            fault = "connection " + std::to_string(conn->id) + ": length word " +
                    std::to_string(length);
            break;
        }
        if (in.size() - pos < length)
            break;
        got.emplace_back();
        decode(Bytes(in.begin() + pos, in.begin() + pos + length), &got.back());
        got.back().connection = conn->id;
        pos += length;
    }
    conn->in.erase(conn->in.begin(), conn->in.begin() + pos);
    if (ended && fault.empty() && !conn->in.empty())
        fault = "connection " + std::to_string(conn->id) + ": closed inside a message, " +
                std::to_string(conn->in.size()) + " bytes unfinished";

    std::lock_guard<std::mutex> l(_mutex);
    for (auto& m : got) {
        m.seq = _log.size() + 1;
        _log.push_back(std::move(m));
        _handedOut.push_back(false);
    }
    if (!fault.empty())
        _protocolErrors.push_back(fault);
    if (ended || !fault.empty()) {
        conn->closing = true;
        _conns.erase(conn->id);
        _closed.insert(conn->id);
    }
    _changed.notify_all();
}

WirePeer::ConnPtr WirePeer::findConn(int connection) const
{
    std::lock_guard<std::mutex> l(_mutex);
    auto it = _conns.find(connection);
    return it == _conns.end() ? ConnPtr() : it->second;
}

bool WirePeer::writeAll(const ConnPtr& conn, const unsigned char* data, std::size_t size,
                        int timeoutMs)
{
    auto deadline = deadlineIn(timeoutMs);
    std::lock_guard<std::mutex> w(conn->writeMutex);
    std::size_t done = 0;
    while (done < size) {
        if (conn->closing)
            return false;
        ssize_t n = ::send(conn->fd, data + done, size - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            int slice = msLeft(deadline, 50);
            if (slice == 0)
                return false;
            pollfd p{conn->fd, POLLOUT, 0};
            poll(&p, 1, slice);
            continue;
        }
        return false;
    }
    return true;
}

int WirePeer::connectTo(const Target& target, int timeoutMs)
{
    if (target.port == 0)
        return -1;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    setReceiveBuffer(fd);
    sockaddr_in a = loopbackAddress(target.port);
    int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    if (rc != 0 && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        int err = ETIMEDOUT;
        socklen_t len = sizeof err;
        if (poll(&p, 1, std::max(timeoutMs, 0)) == 1)
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
        rc = err == 0 ? 0 : -1;
    }
    if (rc != 0) {
        ::close(fd);
        return -1;
    }
    noDelay(fd);
    return addConn(fd, false);
}

bool WirePeer::send(int connection, const Bytes& raw, int timeoutMs)
{
    ConnPtr c = findConn(connection);
    return c && writeAll(c, raw.data(), raw.size(), timeoutMs);
}

bool WirePeer::sendData(int connection, int32_t productId, const Bytes& bytes, int timeoutMs)
{
    return send(connection, dataMsg(_self, productId, bytes), timeoutMs);
}

bool WirePeer::sendData(int connection, int32_t productId, const std::string& text,
                        int timeoutMs)
{
    return sendData(connection, productId, Bytes(text.begin(), text.end()), timeoutMs);
}

bool WirePeer::sendPieces(int connection, const Bytes& raw, const std::vector<std::size_t>& sizes,
                          int pauseMs, int timeoutMs)
{
    ConnPtr c = findConn(connection);
    if (!c)
        return false;
    auto deadline = deadlineIn(timeoutMs);
    std::size_t done = 0;
    for (std::size_t i = 0; i <= sizes.size() && done < raw.size(); ++i) {
        std::size_t n = i < sizes.size() ? std::min(sizes[i], raw.size() - done)
                                         : raw.size() - done;
        if (i > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        if (!writeAll(c, raw.data() + done, n, msLeft(deadline, timeoutMs)))
            return false;
        done += n;
    }
    return true;
}

void WirePeer::close(int connection)
{
    {
        std::lock_guard<std::mutex> l(_mutex);
        auto it = _conns.find(connection);
        if (it == _conns.end())
            return;
        it->second->closing = true;
        _conns.erase(it);
        _closed.insert(connection);
        _changed.notify_all();
    }
    wake();
}

bool WirePeer::waitClosed(int connection, int timeoutMs)
{
    std::unique_lock<std::mutex> l(_mutex);
    return _changed.wait_until(l, deadlineIn(timeoutMs),
                               [&] { return _closed.count(connection) != 0; });
}

bool WirePeer::isOpen(int connection) const
{
    std::lock_guard<std::mutex> l(_mutex);
    return _conns.count(connection) != 0;
}

void WirePeer::pauseReading(bool paused)
{
    {
        std::lock_guard<std::mutex> l(_mutex);
        _paused = paused;
    }
    wake();
}

void WirePeer::stopListening()
{
    std::unique_lock<std::mutex> l(_mutex);
    _closeListener = true;
    wake();
    _changed.wait_until(l, deadlineIn(2000), [&] { return _listenFd < 0; });
}

bool WirePeer::waitFor(int32_t module, int32_t type, int timeoutMs, Message* out)
{
    std::unique_lock<std::mutex> l(_mutex);
    std::size_t found = 0;
    bool got = _changed.wait_until(l, deadlineIn(timeoutMs), [&] {
        for (std::size_t i = 0; i < _log.size(); ++i) {
            if (!_handedOut[i] && _log[i].module == module && _log[i].type == type) {
                found = i;
                return true;
            }
        }
        return false;
    });
    if (!got)
        return false;
    _handedOut[found] = true;
    if (out)
        *out = _log[found];
    return true;
}

std::size_t WirePeer::countLocked(int32_t module, int32_t type) const
{
    return static_cast<std::size_t>(std::count_if(_log.begin(), _log.end(), [&](const Message& m) {
        return m.module == module && m.type == type;
    }));
}

std::size_t WirePeer::count(int32_t module, int32_t type) const
{
    std::lock_guard<std::mutex> l(_mutex);
    return countLocked(module, type);
}

bool WirePeer::waitForCount(int32_t module, int32_t type, std::size_t n, int timeoutMs)
{
    std::unique_lock<std::mutex> l(_mutex);
    return _changed.wait_until(l, deadlineIn(timeoutMs),
                               [&] { return countLocked(module, type) >= n; });
}

std::vector<WirePeer::Message> WirePeer::messages() const
{
    std::lock_guard<std::mutex> l(_mutex);
    return _log;
}

std::vector<std::string> WirePeer::protocolErrors() const
{
    std::lock_guard<std::mutex> l(_mutex);
    return _protocolErrors;
}
