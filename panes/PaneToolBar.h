#pragma once

// The small toolbars of the panes: icon-only buttons whose text is their
// tooltip and their name for screen readers, reachable with Tab (a toolbar's
// buttons take no focus by default), and the Ctrl+C of a pane's copy command.
//
// Threads: the GUI thread only.

#include <QString>

class QAction;
class QIcon;
class QToolBar;
class QWidget;

namespace panes {

QToolBar* MakePaneToolBar(QWidget* parent,
                          const QString& accessibleName = QStringLiteral("Панель инструментов"));
// An action with its button on the toolbar; the text is its tooltip and the
// button's screen-reader name. A non-empty object name names the action, and
// the button after it with "_button".
QAction* AddToolButton(QToolBar* bar, const QIcon& icon, const QString& text,
                       bool checkable = false, const QString& objectName = {});
// A plain command button with an object name.
inline QAction* AddPaneCommand(QToolBar* bar, const QIcon& icon, const QString& text,
                               const QString& objectName)
{
    return AddToolButton(bar, icon, text, false, objectName);
}
// Ctrl+C (the platform's copy key) runs the action while focus is inside
// `scope`, also in its item views (call once they are its children).
void AddCopyShortcut(QAction* copy, QWidget* scope);

} // namespace panes
