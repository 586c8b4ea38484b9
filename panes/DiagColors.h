#pragma once

// The red of the echo and route results that did not succeed. Pure red
// (255, 0, 0) reads poorly on white and on a dark base alike (a contrast of
// about 4:1 on both), so the red follows the palette: a deep red on a light
// base, a light red on a dark one, each well above 4.5:1.
//
// Threads: the GUI thread only.

#include <QColor>
#include <QPalette>

namespace panes {

QColor FailureTextColor(const QPalette& palette);

} // namespace panes
