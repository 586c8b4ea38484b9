#pragma once

// A large ribbon button: the command's icon over its caption, the caption
// broken onto two lines at the blank nearest its middle when it is long, so
// that every large button of a panel has the same height. Enabled, checked,
// caption, icon and tool tip follow the action; a click triggers it.
//
// Threads: the GUI thread only.

#include <QToolButton>

namespace app {

class CRibbonButton final : public QToolButton
{
public:
    CRibbonButton(QAction* action, QWidget* parent);

    QAction* Action() const { return m_action; }
    // The caption with a line break at the blank nearest the middle when it is
    // longer than a short word or two.
    static QString TwoLineCaption(const QString& caption);

private:
    void Sync();

    QAction* m_action;
};

} // namespace app
