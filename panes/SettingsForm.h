#pragma once

// How the echo and route settings panes lay their values out: a caption, the
// edit with its up-down and the unit on one row, the caption the edit's
// screen-reader name and its buddy.
//
// Threads: the GUI thread only.

#include <QString>

class QGridLayout;
class QWidget;

namespace panes {

// Adds the row at the end of the grid (columns caption, edit, unit).
void AddSettingsRow(QGridLayout& grid, const QString& caption, QWidget* edit,
                    const QString& unit = QString());

} // namespace panes
