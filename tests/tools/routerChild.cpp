// routerChild PARENT ID [PATTERN]: a child program of the data router's
// tests, started by a DataRoutingManager as a program of the system's own
// environment.  Like the decoder process it reports its unique id and pid
// to its parent (ChildTargetMsg), registers a data request for PATTERN and
// answers every data message with a ReadyMsg, in an event loop.
//
// It records in "$QEV_DATA/routerChild.<PATTERN>.txt", one line each:
//     <pid> <product id> <bytes>    for every data message
//     <pid> clean shutdown          when a signal shuts it down clean
// Data "exit" makes it exit at once after recording, without a ReadyMsg.
// PATTERN "crash" makes it exit with 3 before reporting.  Exit status 2:
// usage.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ChildTargetMsg.h"
#include "Connection.h"
#include "IPC_Target.h"
#include "SignalCatcher.h"
#include "SignalClient.h"
#include "dataCaptClient.h"
#include "ipcInitialise.h"

namespace {

std::string recordPath;

void record(const std::string& line)
{
    if (FILE* file = std::fopen(recordPath.c_str(), "a")) {
        std::fprintf(file, "%d %s\n", int(getpid()), line.c_str());
        std::fclose(file);
    }
}

void onData(long productId, int count, char* bytes)
{
    const std::string text(bytes, count);
    record(std::to_string(productId) + " " + text);
    if (text == "exit")
        _exit(0);
}

class RecordingSignalClient : public SignalClient {
public:
    void terminate(bool clean, int signal) override
    {
        if (clean && !terminating())
            record("clean shutdown");
        SignalClient::terminate(clean, signal);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: routerChild PARENT ID [PATTERN]\n");
        return 2;
    }
    const std::string pattern = argc > 3 ? argv[3] : "";
    if (pattern == "crash")
        return 3;
    const char* data = std::getenv("QEV_DATA");
    recordPath = std::string(data ? data : ".") + "/routerChild." + pattern + ".txt";

    ipcInitialise();
    static RecordingSignalClient signalClient;
    SignalCatcher::instance()->setClient(&signalClient);
    const IPC_Target parent{TextString(argv[1])};
    ChildTargetMsg report(std::strtoul(argv[2], nullptr, 10), getpid());
    report.send(parent);
    registerDataRequest(parent, TextString(pattern.c_str()), onData);
    while (Connection::waitForEvent(0, nullptr) != Connection::WAIT_HOPELESS) {
    }
    return 1;
}
