// The message reader through its real framing: the input is what a peer
// writes on one connection.  It goes through a socket pair into an accepted
// data socket, which the process's own event wait reads: the length word,
// the shortest-header and largest-message limits, the sender learnt from the
// first header, the dispatcher's header decoding, and every argument package
// of the catalogue (CatalogueReceiver) all run.
//
// The bytes are written in pieces of 1, 2, 4, ... 2048 bytes (then again
// from 1), with one pass of the event wait after each, so that length words
// and bodies also arrive over many readiness events; then the writing end
// shuts down.  The data socket must then close itself and leave the wait
// set within a bounded number of passes.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "CatalogueReceiver.h"
#include "Connection.h"
#include "DataSocket.h"
#include "EventDispatcher.h"
#include "FuzzEnvironment.h"
#include "SocketConnection.h"
#include "ThreadDataSocket.h"

namespace {

const char* const harness = "fuzz_message_reader";

// Passes of the event wait after the end of the input before the socket
// counts as stuck.
const int closingPasses = 1000;

int waitSetSize()
{
    return EventDispatcher::instance()->waitSet().count();
}

void onePass()
{
    Connection::waitForEvent(-1, nullptr);
}

}  // namespace

// A length word may announce up to 256 MiB, which the socket allocates before
// the body arrives; under AddressSanitizer each such buffer costs a 32 MiB
// shadow write.  Above 24 MiB the allocation fails instead, so those lengths
// take the reader's no-memory path (logged, connection closed); the inputs
// never hold more than a few ten thousand bytes of body anyway.
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1:max_allocation_size_mb=24";
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzEnvironment::instance();
    // The transport, as the process starts it, without the signal catcher
    // (the fuzzer keeps its own signal handlers).
    SocketConnection::initialise();
    CatalogueReceiver::registerForAllModules();
    if (!Connection::connectionFor(Connection::NORMAL_PRIORITY))
        FuzzEnvironment::fail(harness, "no normal-priority connection");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        FuzzEnvironment::fail(harness, "socketpair failed");
    const int writer = ends[1];
    fcntl(writer, F_SETFL, fcntl(writer, F_GETFL) | O_NONBLOCK);

    const int before = waitSetSize();
    Connection* connection = Connection::connectionFor(Connection::NORMAL_PRIORITY);
    DataSocket* socket = new ThreadDataSocket(ends[0], connection, false);
    connection->socketConnection()->addSocket(socket);

    size_t written = 0;
    for (int piece = 0; written < size; piece = (piece + 1) % 12) {
        const size_t n = std::min(size - written, size_t(1) << piece);
        const ssize_t got = ::send(writer, data + written, n, MSG_NOSIGNAL);
        if (got > 0)
            written += static_cast<size_t>(got);
        else if (got < 0 && errno != EAGAIN && errno != EINTR)
            break;  // the reader closed its end: the rest has nowhere to go
        onePass();
    }
    ::shutdown(writer, SHUT_WR);
    for (int pass = 0; waitSetSize() != before; ++pass) {
        if (pass == closingPasses)
            FuzzEnvironment::fail(harness, "the data socket stays open after the peer's end");
        onePass();
    }
    ::close(writer);
    return 0;
}
