// The decoder program: the decoders it carries, entered by data type key
// (BufrDecoderList::setFactory), then the process itself.  A key whose
// decoder is not entered here creates nothing.
#include "BufrDriver.h"
#include "GOESBufrDecoder.h"
#include "ModelBufrDecoder.h"
#include "POESBufrDecoder.h"
#include "ProfBufrDecoder.h"

namespace {

BufrDecoder* makeModelDecoder()
{
    return new ModelBufrDecoder();
}

BufrDecoder* makeGOESDecoder()
{
    return new GOESBufrDecoder();
}

BufrDecoder* makePOESDecoder()
{
    return new POESBufrDecoder();
}

BufrDecoder* makeProfDecoder()
{
    return new ProfBufrDecoder();
}

} // namespace

int main(int argc, char** argv)
{
    BufrDecoderList::setFactory("model", makeModelDecoder);
    BufrDecoderList::setFactory("goes", makeGOESDecoder);
    BufrDecoderList::setFactory("poes", makePOESDecoder);
    BufrDecoderList::setFactory("prof", makeProfDecoder);
    return BufrDriver::main(argc, argv);
}
