#include "signalName.h"

const char* signalName(int signal)
{
    static const char* const names[] = {
        "Unknown signal",                      // 0
        "Hangup",                              // 1
        "Interrupt",                           // 2
        "Quit",                                // 3
        "Illegal instruction",                 // 4
        "Trace trap",                          // 5
        "Abort/IOT instruction",               // 6
        "Bus error",                           // 7
        "Floating point exception",            // 8
        "Kill - how did we catch this one?",   // 9
        "User signal 1",                       // 10
        "Segmentation violation",              // 11
        "User signal 2",                       // 12
        "Broken pipe",                         // 13
        "Alarm clock",                         // 14
        "Terminate",                           // 15
        "Unknown signal",                      // 16
        "Child died",                          // 17
        "Continue after stop",                 // 18
        "Stop - how did we catch this one?",   // 19
        "TTY stop",                            // 20
        "TTY input",                           // 21
        "TTY output",                          // 22
        "Out of band data arrived on socket",  // 23
        "Unknown signal",                      // 24
        "Unknown signal",                      // 25
        "Virtual timer alarm",                 // 26
        "Profile timer alarm",                 // 27
        "TTY window size changed",             // 28
        "Asynchronous I/O",                    // 29
        "Power restored",                      // 30
    };
    if (signal == -2)
        return "EMT instruction";
    if (signal == -1)
        return "Remote lock lost";
    if (signal < 0 || signal >= static_cast<int>(sizeof names / sizeof names[0]))
        return "Unknown signal";
    return names[signal];
}
