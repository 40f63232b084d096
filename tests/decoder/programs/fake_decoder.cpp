// The decoder process as the decoder program runs it, with the fake decoder
// entered under the key "model"; the tests start it as a child.  The fake
// waits FAKE_DECODER_TIMEOUT tenths of a second (default 36000), does not
// pause, and with FAKE_DECODER_CONSTRUCTOR_PASS set processes its directory
// while it is constructed, as several decoders do.  A file whose name holds
// "SLOW" stands for a decode long enough for a signal to be taken meanwhile:
// its storing step lets the main thread take its signals (the event wait,
// reading no peer) for up to 20 s.
#include "BufrDriver.h"
#include "BufrSignalClient.h"
#include "Connection.h"
#include "FakeDecoder.h"
#include "IPC_Target.h"

#include <cstdlib>
#include <cstring>

namespace {

class SlowFakeDecoder : public FakeDecoder {
public:
    SlowFakeDecoder(int timeout) : FakeDecoder(fakeRecord(), "fakeBufrPattern.txt", timeout)
    {
        if (std::getenv("FAKE_DECODER_CONSTRUCTOR_PASS"))
            processBufrDirectory();
    }
    int write2NetcdfFile() override
    {
        const bool slow = std::strstr(BufrSignalClient::instance()->sourcePath().c_str(), "SLOW");
        const IPC_Target noPeer;
        for (int i = 0; slow && i < 200; ++i)
            Connection::waitForEvent(1, &noPeer);
        return FakeDecoder::write2NetcdfFile();
    }
};

BufrDecoder* makeFake()
{
    const char* timeout = std::getenv("FAKE_DECODER_TIMEOUT");
    return new SlowFakeDecoder(timeout ? std::atoi(timeout) : 36000);
}

int noPause(unsigned long) { return 0; }

} // namespace

int main(int argc, char** argv)
{
    BufrDecoderList::setFactory("model", makeFake);
    BufrFileDecoder::setSleeper(noPause);
    return BufrDriver::main(argc, argv);
}
