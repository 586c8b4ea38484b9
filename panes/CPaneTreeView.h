#pragma once

// The tree view of the client and server panes: a QTreeView that reports a
// context menu request with the row it is for, whether it came from the mouse
// (the row under the pointer, made current) or from the keyboard (the menu
// key or Shift+F10: the current row, the menu at that row).
//
// Threads: the GUI thread only.

#include <QTreeView>

namespace panes {

class CPaneTreeView final : public QTreeView
{
    Q_OBJECT

public:
    explicit CPaneTreeView(QWidget* parent = nullptr);

signals:
    // index: the row (invalid when there is none); globalPos: where the menu goes.
    void contextMenuAt(const QModelIndex& index, const QPoint& globalPos);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
};

} // namespace panes
