#pragma once

// The main window's commands: one QAction per command of the ribbon and the
// "Файл" menu, with its caption, its numeric identifier as data() and its
// identifier's name as object name (CommandIds.h), its icon and its standard
// shortcut; and the keyboard-only commands (F5 and Shift+F5 for the current
// category's Start and Stop, Ctrl+1/2/3 for the categories, Ctrl+L for the
// current address box). Every action is added to the owner window, so its
// shortcut works wherever the focus is in it.
//
// Threads: the GUI thread only.

#include <QList>

#include <array>

class QAction;
class QWidget;

namespace app {

class CFrameActions final
{
public:
    explicit CFrameActions(QWidget* owner);

    // The action of that identifier, null for an unknown one.
    QAction* Get(int id) const;
    // Every command action, in table order.
    const QList<QAction*>& Commands() const { return m_commands; }

    QAction* StartCurrent() const { return m_startCurrent; }
    QAction* StopCurrent() const { return m_stopCurrent; }
    QAction* FocusAddress() const { return m_focusAddress; }
    QAction* ShowCategory(int category) const { return m_categories.at(category); }

private:
    QList<QAction*> m_commands;
    QAction* m_startCurrent;
    QAction* m_stopCurrent;
    QAction* m_focusAddress;
    std::array<QAction*, 3> m_categories{};
};

} // namespace app
