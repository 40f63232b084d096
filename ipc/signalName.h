// The names the signal messages give signal numbers (Linux numbering; -2 and
// -1 are the pseudo-signals "EMT instruction" and "Remote lock lost").
// Static texts, so a signal handler may use them.
#ifndef SIGNALNAME_H
#define SIGNALNAME_H

const char* signalName(int signal);

#endif
