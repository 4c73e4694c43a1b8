#ifndef STARTUPFLAGS_H
#define STARTUPFLAGS_H

// Process-wide start-up flags. All are false when the program starts; main()
// sets them from the command line before the event loop runs, and their users
// read them on the GUI thread at the moment they need them.

// The node menu offers loading a script file from disk.
extern bool allowExternalScripts;
// The node menu offers the service entries.
extern bool showServiceFunctions;
// The connection dialog lists every serial port, not only our own interfaces.
extern bool viewAllSerialInterfaces;

#endif // STARTUPFLAGS_H
