#pragma once

// The small toolbar of the client and server panes: icon-only buttons whose
// text is their tooltip and their name for screen readers, reachable with Tab
// (a toolbar's buttons take no focus by default).
//
// Threads: the GUI thread only.

#include <QIcon>
#include <QString>

class QAction;
class QToolBar;
class QWidget;

namespace panes {

QToolBar* MakePaneToolBar(QWidget* parent);
// Adds a command; its button is focusable and named after the text.
QAction* AddPaneCommand(QToolBar* toolBar, const QIcon& icon, const QString& text,
                        const QString& objectName);

} // namespace panes
