#pragma once

// The echo and route panes' pictures (panes/resources/*.svg, built in as Qt
// resources): the targets trees' images and the toolbars' icons. Rendered
// here with QSvgRenderer, so that no image plug-in is needed at run time.
//
// Threads: the GUI thread only.

#include <QIcon>
#include <QString>

namespace panes {

// ":/kanaliko-diag/<name>.svg" as an icon with 16 and 32 pixel pictures (and
// 24 and 48 for toolbars); a null icon when there is no such picture.
QIcon DiagIcon(const QString& name);

} // namespace panes
