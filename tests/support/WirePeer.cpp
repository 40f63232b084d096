#include "WirePeer.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

typedef WirePeer::Bytes Bytes;
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

uint32_t wordAt(const unsigned char* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

sockaddr* loopback(sockaddr_in& a, uint16_t port)
{
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(WirePeer::LOOPBACK);
    return reinterpret_cast<sockaddr*>(&a);
}

void noDelay(int fd)
{
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Reads a buffer front to back.  The first failure sticks and says what
// went wrong; every read after it gives zero or empty.
struct Reader {
    explicit Reader(const Bytes& bytes) : in(bytes) {}

    bool ok() const { return error.empty(); }
    std::size_t left() const { return in.size() - pos; }
    void fail(const std::string& why)
    {
        if (ok())
            error = why;
    }

    uint32_t word()
    {
        if (ok() && left() < 4)
            fail("cut short");
        if (!ok())
            return 0;
        pos += 4;
        return wordAt(&in[pos - 4]);
    }
    int32_t signedWord() { return static_cast<int32_t>(word()); }
    uint16_t half(const char* what)
    {
        uint32_t w = word();
        if (w > 0xffff)
            fail(std::string(what) + " word above 16 bits");
        return static_cast<uint16_t>(w);
    }

    // The count, the XDR count (which must agree), the bytes and a zero padding.
    Bytes opaque()
    {
        const uint32_t count = word(), xdrCount = word();
        const std::size_t padded = (std::size_t(count) + 3) / 4 * 4;
        if (count != xdrCount)
            fail("count " + std::to_string(count) + " but XDR count " + std::to_string(xdrCount));
        else if (padded > left())
            fail(std::to_string(count) + " bytes announced, " + std::to_string(left()) + " left");
        if (!ok())
            return Bytes();
        auto at = in.begin() + pos;
        if (std::any_of(at + count, at + padded, [](unsigned char c) { return c != 0; }))
            fail("padding not zero");
        pos += padded;
        return Bytes(at, at + count);
    }
    std::string text()
    {
        Bytes b = opaque();
        return std::string(b.begin(), b.end());
    }

    const Bytes& in;
    std::size_t pos = 0;
    std::string error;
};

void putTarget(Bytes& out, const WirePeer::Target& t)
{
    for (uint32_t w : {uint32_t(t.kind), uint32_t(t.family), t.host, uint32_t(t.port),
                       uint32_t(t.pid)})
        WirePeer::putWord(out, w);
    WirePeer::putString(out, t.name);
}

WirePeer::Target readTarget(Reader& r)
{
    WirePeer::Target t;
    t.kind = r.signedWord();
    t.family = r.half("family");
    t.host = r.word();
    t.port = r.half("port");
    t.pid = r.signedWord();
    t.name = r.text();
    return t;
}

// The flags form (first word a flags word: one of the bits 0x2F00 and at
// most 0x3FFF) or the older form without flags (first word the reference
// time, then the forecast period and the valid period).  Without a valid
// period the instant is the reference (or, flag 0x200, the second) time
// plus the forecast period.
WirePeer::DataTime readDataTime(Reader& r)
{
    WirePeer::DataTime d;
    auto validPeriod = [&] {
        d.validFlag = r.word() != 0;
        d.validStart = r.signedWord();
        d.validEnd = r.signedWord();
    };
    const uint32_t w = r.word();
    if ((w & 0x2F00) == 0 || w > 0x3FFF) {
        d.flags = 0xC00;
        d.refTime = d.secondTime = static_cast<int32_t>(w);
        d.fcstPeriod = r.signedWord();
        validPeriod();
        return d;
    }
    d.flags = w;
    d.refTime = d.secondTime = r.signedWord();
    if (w & 0x400)
        d.fcstPeriod = r.signedWord();
    if (w & 0x800)
        validPeriod();
    if (w & 0x2000)
        d.secondTime = r.signedWord();
    if (w & 0x1000)
        d.key = r.word();
    if (!(w & 0x800)) {
        const int32_t base = (w & 0x200) ? d.secondTime : d.refTime;
        d.validStart = d.validEnd = static_cast<int32_t>(uint32_t(base) + uint32_t(d.fcstPeriod));
    }
    return d;
}

// The body of a message the peer knows, used exactly; others stay raw.
bool decodeBody(WirePeer::Message& m)
{
    Reader r(m.body);
    const std::pair<int32_t, int32_t> kind(m.module, m.type);
    if (kind == std::make_pair(1, 1)) {
        m.pattern = r.text();
    } else if (kind == std::make_pair(1, 2)) {
        m.productId = r.signedWord();
        m.bytes = r.opaque();
    } else if (kind == std::make_pair(5, 0)) {
        m.uniqueId = r.word();
        m.processId = r.signedWord();
    } else if (kind == std::make_pair(2, 10)) {
        m.key = r.word();
        m.dataTime = readDataTime(r);
    } else if (kind != std::make_pair(1, 0)) {
        return true;
    }
    if (r.left() != 0)
        r.fail(std::to_string(r.left()) + " bytes left over");
    if (!r.ok())
        m.error = "body of " + std::to_string(m.module) + "/" + std::to_string(m.type) + ": " +
                  r.error;
    return r.ok();
}

}  // namespace

// One TCP connection.  The descriptor is closed when the last holder lets go:
// the connection table, the serving thread's poll set of the moment, or a
// writer, so a descriptor number is never reused while one of them uses it.
struct WirePeer::Conn {
    int id = 0;
    int fd = -1;
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
    return Target{2, 2, host, port, pid, std::string()};
}

std::string WirePeer::Target::text() const
{
    if (kind != 2)
        return kind == 1 ? name : "NULL";
    std::string dotted;
    for (int shift = 24; shift >= 0; shift -= 8)
        dotted += std::to_string((host >> shift) & 0xff) + (shift ? "." : "");
    return dotted + "/" + std::to_string(port) + "/" + std::to_string(pid);
}

WirePeer::DataTime WirePeer::DataTime::observation(int32_t t)
{
    DataTime d;
    d.refTime = d.validStart = d.validEnd = d.secondTime = t;
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

void WirePeer::putDataTime(Bytes& out, const DataTime& time)
{
    putWord(out, time.flags);
    putWord(out, static_cast<uint32_t>(time.refTime));
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
    Bytes rest;
    putTarget(rest, sender);
    for (int32_t w : {module, priority, type})
        putWord(rest, static_cast<uint32_t>(w));
    rest.insert(rest.end(), body.begin(), body.end());
    Bytes out;
    putWord(out, static_cast<uint32_t>(rest.size() + 4));
    out.insert(out.end(), rest.begin(), rest.end());
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

bool WirePeer::decode(const Bytes& raw, Message* out)
{
    Message& m = *out = Message();
    Reader r(raw);
    m.totalLength = r.word();
    if (r.ok() && m.totalLength != raw.size())
        r.fail("length word " + std::to_string(m.totalLength) + " on " +
               std::to_string(raw.size()) + " bytes");
    m.sender = readTarget(r);
    const int32_t module = r.signedWord(), priority = r.signedWord(), type = r.signedWord();
    if (type < -32768 || type > 32767)
        r.fail("type " + std::to_string(type) + " beyond 16 bits");
    if (!r.ok()) {
        m.error = "header: " + r.error;
        return false;
    }
    m.module = module;
    m.priority = priority;
    m.type = type;
    m.body.assign(raw.begin() + r.pos, raw.end());
    return m.ok = decodeBody(m);
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
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a;
    socklen_t len = sizeof a;
    int one = 1;
    if (fd >= 0) {
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        setReceiveBuffer(fd);   // accepted connections inherit it
        if (bind(fd, loopback(a, 0), sizeof a) != 0 || listen(fd, 128) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    _listenFd = fd;
    _self = Target::address(LOOPBACK, fd >= 0 ? ntohs(a.sin_port) : 0,
                            options.pid ? options.pid : getpid());
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
    _thread.join();
    _conns.clear();
    if (_listenFd >= 0)
        ::close(_listenFd);
}

bool WirePeer::listening() const
{
    std::lock_guard<std::mutex> l(_mutex);
    return _listenFd >= 0;
}

void WirePeer::setReceiveBuffer(int fd) const
{
    if (_options.receiveBuffer > 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &_options.receiveBuffer,
                   sizeof _options.receiveBuffer);
}

// Polls the listening socket and (unless paused) every connection; a
// change of the table or of the pause takes effect within one short pass.
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
        fds.assign(1, pollfd{listenFd, POLLIN, 0});
        for (auto& c : watched)
            fds.push_back(pollfd{c->fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), 10) > 0) {
            for (int i = 0, fd; fds[0].revents && i < 16 &&
                                (fd = accept4(listenFd, nullptr, nullptr,
                                              SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;
                 ++i) {
                noDelay(fd);
                addConn(fd);
            }
            for (std::size_t i = 0; i < watched.size(); ++i)
                if (fds[1 + i].revents)
                    readConn(watched[i]);
        }
        watched.clear();   // let closed connections' descriptors go now
    }
}

int WirePeer::addConn(int fd)
{
    auto c = std::make_shared<Conn>();
    c->fd = fd;
    std::lock_guard<std::mutex> l(_mutex);
    c->id = _nextConn++;
    _conns[c->id] = c;
    return c->id;
}

void WirePeer::dropLocked(ConnPtr conn)
{
    conn->closing = true;
    _conns.erase(conn->id);
    _closed.insert(conn->id);
    _changed.notify_all();
}

void WirePeer::readConn(const ConnPtr& conn)
{
    // A bounded number of reads per event, so a fast writer cannot hold the
    // thread; the rest waits for the next pass.
    unsigned char buf[65536];
    bool ended = false;
    for (int i = 0; i < 16; ++i) {
        ssize_t n = ::read(conn->fd, buf, sizeof buf);
        if (n > 0) {
            conn->in.insert(conn->in.end(), buf, buf + n);
        } else if (n == 0 || errno != EINTR) {
            ended = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
            break;
        }
    }

    const std::string name = "connection " + std::to_string(conn->id) + ": ";
    std::vector<Message> got;
    std::string fault;
    std::size_t pos = 0;
    const Bytes& in = conn->in;
    while (fault.empty() && in.size() - pos >= 4) {
        const uint32_t length = wordAt(&in[pos]);
        if (length < 4 || length > MAX_MESSAGE)
            fault = name + "length word " + std::to_string(length);
        else if (in.size() - pos < length)
            break;
        else {
            got.emplace_back();
            decode(Bytes(in.begin() + pos, in.begin() + pos + length), &got.back());
            got.back().connection = conn->id;
            pos += length;
        }
    }
    conn->in.erase(conn->in.begin(), conn->in.begin() + pos);
    if (ended && fault.empty() && !conn->in.empty())
        fault = name + "closed inside a message, " + std::to_string(conn->in.size()) +
                " bytes unfinished";

    std::lock_guard<std::mutex> l(_mutex);
    for (auto& m : got) {
        m.seq = _log.size() + 1;
        _log.push_back(std::move(m));
        _handedOut.push_back(false);
    }
    if (!fault.empty())
        _protocolErrors.push_back(fault);
    if (ended || !fault.empty())
        dropLocked(conn);
    _changed.notify_all();
}

bool WirePeer::writeAll(const ConnPtr& conn, const unsigned char* data, std::size_t size,
                        int timeoutMs)
{
    auto deadline = deadlineIn(timeoutMs);
    std::lock_guard<std::mutex> w(conn->writeMutex);
    for (std::size_t done = 0; done < size;) {
        if (conn->closing)
            return false;
        ssize_t n = ::send(conn->fd, data + done, size - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            int slice = msLeft(deadline, 50);
            if (slice == 0)
                return false;
            pollfd p{conn->fd, POLLOUT, 0};
            poll(&p, 1, slice);
        } else if (n == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

int WirePeer::connectTo(const Target& target, int timeoutMs)
{
    int fd = target.port ? socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0) : -1;
    if (fd < 0)
        return -1;
    setReceiveBuffer(fd);
    sockaddr_in a;
    int err = ::connect(fd, loopback(a, target.port), sizeof a) == 0 ? 0 : errno;
    if (err == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        socklen_t len = sizeof err;
        err = ETIMEDOUT;
        if (poll(&p, 1, std::max(timeoutMs, 0)) == 1)
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
    }
    if (err != 0) {
        ::close(fd);
        return -1;
    }
    noDelay(fd);
    return addConn(fd);
}

bool WirePeer::send(int connection, const Bytes& raw, int timeoutMs)
{
    return sendPieces(connection, raw, {}, 0, timeoutMs);
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
    ConnPtr c;
    {
        std::lock_guard<std::mutex> l(_mutex);
        auto it = _conns.find(connection);
        if (it != _conns.end())
            c = it->second;
    }
    auto deadline = deadlineIn(timeoutMs);
    for (std::size_t i = 0, done = 0; c && done < raw.size(); ++i) {
        const std::size_t rest = raw.size() - done;
        const std::size_t n = i < sizes.size() ? std::min(sizes[i], rest) : rest;
        if (i > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        if (!writeAll(c, raw.data() + done, n, msLeft(deadline, timeoutMs)))
            return false;
        done += n;
    }
    return c != nullptr;
}

void WirePeer::close(int connection)
{
    std::lock_guard<std::mutex> l(_mutex);
    auto it = _conns.find(connection);
    if (it != _conns.end())
        dropLocked(it->second);
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
    std::lock_guard<std::mutex> l(_mutex);
    _paused = paused;
}

void WirePeer::stopListening()
{
    std::unique_lock<std::mutex> l(_mutex);
    _closeListener = true;
    _changed.wait_until(l, deadlineIn(2000), [&] { return _listenFd < 0; });
}

bool WirePeer::waitFor(int32_t module, int32_t type, int timeoutMs, Message* out)
{
    std::unique_lock<std::mutex> l(_mutex);
    std::size_t i = 0;
    auto next = [&] {
        for (i = 0; i < _log.size(); ++i)
            if (!_handedOut[i] && _log[i].module == module && _log[i].type == type)
                return true;
        return false;
    };
    if (!_changed.wait_until(l, deadlineIn(timeoutMs), next))
        return false;
    _handedOut[i] = true;
    if (out)
        *out = _log[i];
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
