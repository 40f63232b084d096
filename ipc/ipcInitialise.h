// The start-up registrations of the message layer, made by one explicit
// call so that static linking can never drop them: the signal catcher with
// its pipe, and the receivers and connections that the layer provides.
// main calls it first; a second call does nothing.
#ifndef IPCINITIALISE_H
#define IPCINITIALISE_H

void ipcInitialise();

#endif
