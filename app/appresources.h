#ifndef APPRESOURCES_H
#define APPRESOURCES_H

// Registers the shell's compiled-in images (":/img/...", ":/logo/...").
// The resources live in a static library, so a widget that uses them calls
// this first; calling it again does nothing.
void initAppResources();

#endif // APPRESOURCES_H
