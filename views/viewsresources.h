#ifndef VIEWSRESOURCES_H
#define VIEWSRESOURCES_H

// Registers the views' compiled-in images (":/img/resource/file_text.png"
// and the like). The resources live in a static library, so a view that
// uses them calls this first; calling it again does nothing.
void initViewsResources();

#endif // VIEWSRESOURCES_H
