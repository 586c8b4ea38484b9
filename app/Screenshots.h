#pragma once

// Pictures of the main window for the README and for looking at the layout:
// each category at 1366 x 768 with its panes filled (a check of this node, echo
// and route to it), the same in a dark palette, the "Файл" menu and every
// dialog (filter, scheme editor, options, about, access server, error). Used by `kanaliko --screenshots DIR` (scripts/screenshots).
//
// Threads: the GUI thread only.

#include <QString>

namespace app {

class CKanalikoApp;

// Writes the PNG files into the folder (created when missing); returns the
// number written, or -1 when the folder cannot be made.
int RenderScreenshots(CKanalikoApp& program, const QString& folder);

} // namespace app
