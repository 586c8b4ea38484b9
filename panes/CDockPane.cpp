#include "panes/CDockPane.h"

#include <QCloseEvent>

namespace panes {

CDockPane::CDockPane(const QString& caption, const QString& objectName, int id, QWidget* parent)
    : QDockWidget(caption, parent), m_id(id)
{
    setObjectName(objectName);
    setProperty("paneId", id);
    setAccessibleName(caption);
    setAllowedAreas(Qt::AllDockWidgetAreas);
    setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
                QDockWidget::DockWidgetFloatable);
    auto* placeholder = new QWidget(this);
    placeholder->setAccessibleName(caption);
    setWidget(placeholder);
}

void CDockPane::SetContent(QWidget* content)
{
    QWidget* old = widget();
    setWidget(content);
    if (old && old != content)
        old->deleteLater();
}

void CDockPane::closeEvent(QCloseEvent* event)
{
    QDockWidget::closeEvent(event);
    if (event->isAccepted())
        emit closedByUser();
}

} // namespace panes
