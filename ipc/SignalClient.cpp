#include "SignalClient.h"

#include "ChildProcessSet.h"
#include "Connection.h"
#include "LogStream.h"
#include "signalName.h"

#include <csignal>
#include <cstdlib>

namespace {
volatile std::sig_atomic_t terminatingFlag = 0;
}

SignalClient::~SignalClient() {}

bool SignalClient::terminating()
{
    return terminatingFlag != 0;
}

void SignalClient::terminate(bool clean, int signal)
{
    if (terminatingFlag) {
        std::raise(SIGKILL);
        return;
    }
    terminatingFlag = 1;
    if (clean) {
        QEV_LOG(LogStream::EVENT, "SignalClient")
            << "Signal " << signal << " (" << signalName(signal)
            << ") received for clean shutdown" << std::endl;
        std::exit(0);
    }
    printStackTrace();
    QEV_LOG(LogStream::BUG, "SignalClient") << "Signal " << signal << " (" << signalName(signal)
                                            << ") received for dirty shutdown" << std::endl;
    std::exit(1);
}

void SignalClient::reset()
{
    QEV_LOG(LogStream::EVENT, "SignalClient")
        << "SignalClient::reset() received and ignored SIGHUP" << std::endl;
}

void SignalClient::alarmSignal(int which)
{
    if (which == 0)
        terminate(false, SIGALRM);
    else if (which == 1)
        terminate(false, SIGPROF);
}

void SignalClient::ioSignal(int which)
{
    if (which == 0) {
        QEV_LOG(LogStream::PROBLEM, "SignalClient")
            << "SignalClient::ioSignal() recv'd and ignored SIGPIPE" << std::endl;
    } else if (which == 1) {
        terminate(false, -1);
    }
}

// The child process set reaps every child that has exited, so that
// children whose SIGCHLDs arrived together leave no zombie behind and each
// is restarted or reported.
void SignalClient::childSignal()
{
    ChildProcessSet::instance()->reap();
}

void SignalClient::statsSignal()
{
    Connection::statReport();
}

void SignalClient::breakLogFiles(SignalClient*)
{
    LogStream::breakFiles();
}

void SignalClient::toggleLogFiltering(SignalClient*)
{
    LogStream::toggleFiltering();
}

void SignalClient::printStackTrace()
{
    QEV_LOG(LogStream::BUG, "SignalClient") << "Stack tracing capability not implemented."
                                            << std::endl;
}
