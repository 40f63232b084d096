// The decoder program: the decoders it carries, entered by data type key
// (BufrDecoderList::setFactory), then the process itself.  A key whose
// decoder is not entered here creates nothing.
#include "BufrDriver.h"

int main(int argc, char** argv)
{
    return BufrDriver::main(argc, argv);
}
