// The other end of the decoder process in tests over real TCP on 127.0.0.1:
// it plays the data controller (which is also the parent process manager)
// and the notification server.  It carries its own big-endian message codec,
// apart from the messaging library, so that an encoding fault cannot hide on
// both sides.  Its reader is strict: the length word must equal the size, a
// string's two counts must agree, padding must be zero and a known body must
// be used exactly.
//
//     WirePeer peer;                                  // listens on 127.0.0.1
//     ASSERT_TRUE(peer.listening());
//     // argv[1] of the process: peer.targetText(); its configuration:
//     // WirePeer::namedTargetsConfig({peer.namedTargetEntry("NOTIFICATION_SERVER")})
//     WirePeer::Message m;
//     ASSERT_TRUE(peer.waitFor(5, 0, 5000, &m));      // ChildTargetMsg
//     ASSERT_TRUE(peer.waitFor(1, 1, 5000, &m));      // DataReqMsg, m.pattern
//     ASSERT_TRUE(peer.waitFor(1, 0, 5000, &m));      // ReadyMsg
//     int c = peer.connectTo(m.sender);               // the process's own port
//     ASSERT_TRUE(peer.sendData(c, 7, "KWBC.BUFR001"));
//     ASSERT_TRUE(peer.waitFor(1, 0, 5000, &m));      // the ReadyMsg after it
//
// Received messages are kept in arrival order (messages()).  waitFor hands
// out the oldest message of a module and type that no earlier waitFor handed
// out, so successive calls walk through successive messages of that kind.
//
// Threads: one background thread accepts connections and reads them; every
// public operation may be called from any thread.  Every wait, connect and
// write is bounded by the time-out it is given, and the destructor stops the
// thread and closes everything, so no test can hang on the peer.
#ifndef WIREPEER_H
#define WIREPEER_H

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

class WirePeer {
public:
    typedef std::vector<unsigned char> Bytes;

    // Encoded size of a header whose sender has an empty name, and the
    // largest message the peer takes (a longer length word is a fault).
    static constexpr std::size_t HEADER_SIZE = 44;
    static constexpr uint32_t MAX_MESSAGE = 64u << 20;
    static constexpr uint32_t LOOPBACK = 0x7f000001;   // 127.0.0.1, host order

    // An IPC address as it travels: kind 0 null, 1 named, 2 address; host and
    // port in host byte order.
    struct Target {
        int32_t kind = 0;
        uint16_t family = 2;
        uint32_t host = 0;
        uint16_t port = 0;
        int32_t pid = 0;
        std::string name;

        static Target address(uint32_t host, uint16_t port, int32_t pid);
        // "127.0.0.1/40000/4242" for an address, the name for a named target,
        // "NULL" for the null target (each parses back to the same target).
        std::string text() const;
    };

    // A data time as it travels (flags word first; see putDataTime).
    struct DataTime {
        uint32_t flags = 0x300;
        int32_t refTime = 0;
        int32_t fcstPeriod = 0;
        bool validFlag = false;
        int32_t validStart = 0;
        int32_t validEnd = 0;
        int32_t secondTime = 0;
        uint32_t key = 0;

        // What the decoders send for an observation at t: {t, 0, [t, t], t, 0, 0x300}.
        static DataTime observation(int32_t t);
    };

    // One received (or decoded) message.  The body fields that apply follow
    // module and type: 1/1 pattern; 1/2 productId and bytes; 5/0 uniqueId and
    // processId; 2/10 key and dataTime.  ok is false when the header or a
    // known body is malformed (error says how); other messages keep only body.
    struct Message {
        uint64_t seq = 0;        // arrival number, from 1
        int connection = 0;      // the peer's connection it came on
        bool ok = false;
        std::string error;

        uint32_t totalLength = 0;
        Target sender;
        int32_t module = -1;
        int32_t priority = 0;
        int32_t type = -1;
        Bytes body;

        std::string pattern;
        int32_t productId = 0;
        Bytes bytes;
        uint32_t uniqueId = 0;
        int32_t processId = 0;
        uint32_t key = 0;
        DataTime dataTime;

        std::string bytesText() const { return std::string(bytes.begin(), bytes.end()); }
    };

    // ---- Codec (XDR: big-endian 4-byte units, zero padding) ----

    // Header (total length, sender, module, priority, type) followed by body.
    static Bytes encode(const Target& sender, int32_t module, int32_t type, const Bytes& body,
                        int32_t priority = 0);
    static Bytes readyMsg(const Target& sender);                                   // 1/0
    static Bytes dataReqMsg(const Target& sender, const std::string& pattern);     // 1/1
    static Bytes dataMsg(const Target& sender, int32_t productId, const Bytes& bytes);  // 1/2
    static Bytes childTargetMsg(const Target& sender, uint32_t uniqueId, int32_t pid); // 5/0
    static Bytes dataMgmtMsg(const Target& sender, uint32_t key, const DataTime& time); // 2/10

    // Decodes one whole message (its length word must equal its size).
    static bool decode(const Bytes& raw, Message* out);

    // Body builders.  A string and a byte array carry their length twice:
    // the count, then the XDR string or opaque with its own count.
    static void putWord(Bytes& out, uint32_t value);
    static void putString(Bytes& out, const std::string& text);
    static void putOpaque(Bytes& out, const Bytes& bytes);
    // flags, reference time, then the forecast period (flag 0x400), the
    // valid period as flag, start, end (0x800), the second time (0x2000)
    // and the key (0x1000).
    static void putDataTime(Bytes& out, const DataTime& time);

    // ---- The peer ----

    struct Options {
        int32_t pid = 0;           // pid of the peer's own target; 0: getpid()
        int receiveBuffer = 0;     // SO_RCVBUF of every connection; 0: system default
    };

    WirePeer();
    explicit WirePeer(const Options& options);
    ~WirePeer();
    WirePeer(const WirePeer&) = delete;
    WirePeer& operator=(const WirePeer&) = delete;

    bool listening() const;
    uint16_t port() const { return _self.port; }
    const Target& target() const { return _self; }
    std::string targetText() const { return _self.text(); }
    // One entry of "SocketConnection.namedTargets": "NAME,127.0.0.1,port".
    std::string namedTargetEntry(const std::string& name) const;
    // The configuration lines that define "SocketConnection.namedTargets"
    // with the entries given (a type definition line and the assignment).
    static std::string namedTargetsConfig(const std::vector<std::string>& entries);

    // Waits up to timeoutMs for the next not yet handed out message of that
    // module and type; true and *out filled when one came.
    bool waitFor(int32_t module, int32_t type, int timeoutMs, Message* out = nullptr);
    // Waits until at least n messages of that module and type have arrived.
    bool waitForCount(int32_t module, int32_t type, std::size_t n, int timeoutMs);
    std::size_t count(int32_t module, int32_t type) const;
    std::vector<Message> messages() const;
    // Length words the peer could not take (below 4 or above MAX_MESSAGE)
    // and messages cut short by a close; the connection is closed.
    std::vector<std::string> protocolErrors() const;

    // Connects to the port of a target on 127.0.0.1; a connection id or -1.
    int connectTo(const Target& target, int timeoutMs = 5000);
    // Writes raw bytes, or a data message from this peer's own target.
    bool send(int connection, const Bytes& raw, int timeoutMs = 5000);
    bool sendData(int connection, int32_t productId, const Bytes& bytes, int timeoutMs = 5000);
    bool sendData(int connection, int32_t productId, const std::string& text,
                  int timeoutMs = 5000);
    // Writes raw bytes in pieces of the sizes given (the rest as a last
    // piece), pausing pauseMs between them.
    bool sendPieces(int connection, const Bytes& raw, const std::vector<std::size_t>& sizes,
                    int pauseMs, int timeoutMs = 5000);

    // Closes a connection from this side (the other end reads end of file).
    void close(int connection);
    // Whether the connection has closed, from either end.
    bool waitClosed(int connection, int timeoutMs);
    bool isOpen(int connection) const;
    // A slow reader: while paused nothing is read, so the other end's writes
    // fill the socket buffers (small ones with Options::receiveBuffer).
    void pauseReading(bool paused);
    // Closes the listening socket: new connections are refused.
    void stopListening();

private:
    struct Conn;
    typedef std::shared_ptr<Conn> ConnPtr;

    void serve();
    void readConn(const ConnPtr& conn);
    int addConn(int fd);
    void dropLocked(ConnPtr conn);   // by value: it may be the table's own entry
    bool writeAll(const ConnPtr& conn, const unsigned char* data, std::size_t size,
                  int timeoutMs);
    void setReceiveBuffer(int fd) const;
    std::size_t countLocked(int32_t module, int32_t type) const;

    Options _options;
    Target _self;
    int _listenFd = -1;

    mutable std::mutex _mutex;
    std::condition_variable _changed;
    std::map<int, ConnPtr> _conns;      // open connections
    std::set<int> _closed;              // closed ones, by either end
    int _nextConn = 1;
    std::vector<Message> _log;
    std::vector<bool> _handedOut;
    std::vector<std::string> _protocolErrors;
    bool _paused = false;
    bool _closeListener = false;
    bool _stop = false;
    std::thread _thread;
};

#endif
