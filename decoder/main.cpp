// The decoder program: the decoders it carries, entered by data type key
// (BufrDecoderList::setFactory), then the process itself.  A key whose
// decoder is not entered here creates nothing.
#include "BufrDriver.h"
#include "ModelBufrDecoder.h"
#include "ProfBufrDecoder.h"

namespace {

BufrDecoder* makeModelDecoder()
{
    return new ModelBufrDecoder();
}

BufrDecoder* makeProfDecoder()
{
    return new ProfBufrDecoder();
}

} // namespace

int main(int argc, char** argv)
{
    BufrDecoderList::setFactory("model", makeModelDecoder);
    BufrDecoderList::setFactory("prof", makeProfDecoder);
    return BufrDriver::main(argc, argv);
}
