// The decoder program: the decoders it carries, entered by data type key
// (BufrDecoderList::setFactory), then the process itself.  A key whose
// decoder is not entered here creates nothing.
#include "AcarsBufrDecoder.h"
#include "BufrDriver.h"
#include "GOESBufrDecoder.h"
#include "HDWBufrDecoder.h"
#include "ModelBufrDecoder.h"
#include "POESBufrDecoder.h"
#include "ProfBufrDecoder.h"
#include "QuikScatBufrDecoder.h"

namespace {

template <class Decoder>
BufrDecoder* make()
{
    return new Decoder();
}

} // namespace

int main(int argc, char** argv)
{
    BufrDecoderList::setFactory("model", make<ModelBufrDecoder>);
    BufrDecoderList::setFactory("goes", make<GOESBufrDecoder>);
    BufrDecoderList::setFactory("poes", make<POESBufrDecoder>);
    BufrDecoderList::setFactory("acars", make<AcarsBufrDecoder>);
    BufrDecoderList::setFactory("csw", make<HDWBufrDecoder>);
    BufrDecoderList::setFactory("prof", make<ProfBufrDecoder>);
    BufrDecoderList::setFactory("quikscat", make<QuikScatBufrDecoder>);
    return BufrDriver::main(argc, argv);
}
