#pragma once

// The client and server panes' pictures (panes/resources/*.svg, our own
// drawings, built in as Qt resources): the state images by their index in the
// panes' image strips (core::CPortRows::Image, core::CServerRows::Image) and
// the toolbar commands. The SVG files are rendered here, so no image plug-in
// is needed at run time; each icon carries a 1x and a 2x rendering.
//
// Threads: the GUI thread only.

#include <QIcon>
#include <QString>

namespace panes {

// A null icon for an index without a picture (core::CPortRows::ImageNone, 0, 2).
QIcon ClientStateIcon(int image);
// A null icon for an index without a picture.
QIcon ServerStateIcon(int image);
// "copy", "group", "restart".
QIcon PaneCommandIcon(const QString& name);

} // namespace panes
