#include "panes/CPaneTreeView.h"

#include <QContextMenuEvent>

namespace panes {

CPaneTreeView::CPaneTreeView(QWidget* parent) : QTreeView(parent)
{
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAllColumnsShowFocus(true);
    setFocusPolicy(Qt::StrongFocus);
}

void CPaneTreeView::contextMenuEvent(QContextMenuEvent* event)
{
    QModelIndex index;
    QPoint globalPos = event->globalPos();
    if (event->reason() == QContextMenuEvent::Keyboard) {
        index = currentIndex();
        if (index.isValid())
            globalPos = viewport()->mapToGlobal(visualRect(index).center());
    } else {
        index = indexAt(viewport()->mapFromGlobal(event->globalPos()));
        if (index.isValid())
            setCurrentIndex(index);
    }
    event->accept();
    emit contextMenuAt(index, globalPos);
}

} // namespace panes
