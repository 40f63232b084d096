// The decoder process: start-up, the data-message handlers and the event
// loop.
//
//     decoder PARENT_TARGET UNIQUE_ID DATA_TYPE
//
// main answers the parent (a ChildTargetMsg with the unique id and the
// process id), builds the decoder list from the data type name, runs every
// decoder once over what already waits in its ingest directory, registers
// the decoders' joined patterns with the parent (the data controller) and
// then waits for data messages.  Each data message runs one decoder's
// directory pass: the only decoder, or the one whose pattern matches the
// product id in the message.  A wait that ends without a message (its time
// limit, or a signal) registers again.  A directory pass that left files for
// want of descriptors or memory, or a file under another process's lease or
// changed while it was checked, runs again 5 seconds later.  Start-up
// failures return 1, among them an ingest directory that another decoder
// process holds; too few arguments, or a data type name without a key, also
// print the usage line on standard error.  A failed wait returns 0.  Signals
// end the process through the decoder signal client: 0 for a clean
// shutdown, 1 for a dirty one.
//
// Before the process ends cleanly (main returns, or a clean shutdown) the
// point-data files are synced and closed, in closePointData.  The decoders
// are deleted afterwards, at exit, by the list's destructor.
//
// Everything runs on the main thread; the state is process-wide.
#ifndef BUFRDRIVER_H
#define BUFRDRIVER_H

#include "BufrDecoderList.h"
#include "DataCaptReceiver.h"

class BufrDriver {
public:
    // The process; argv[0] is the program name.
    static int main(int argc, char** argv);

    // The handler when the list holds one decoder: its directory pass,
    // whatever the message holds.
    static void processMsg_Single(long id, int length, char* bytes);
    // The handler when it holds several: the product id is the text of up
    // to 6 characters that starts 5 characters after the first "." of a
    // message of at least 40 bytes; the first decoder whose pattern matches
    // it runs its directory pass.
    static void processMsg_Multiple(long id, int length, char* bytes);

    // The process-wide state.
    static BufrDecoderList& decoderList();
    static DataCaptReceiver::DataCallback dataHandler();
    static BufrDecoderList::DecoderObjectInfo* currentDecoder();

    // Syncs and closes every open point-data file.  The one place the
    // process lets go of its point-data stores: run once before a clean
    // end, never on a dirty shutdown.
    static void closePointData();

private:
    // main's work, up to the end of the event loop.
    static int run(int argc, char** argv);
};

#endif
