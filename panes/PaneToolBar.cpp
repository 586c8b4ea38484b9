#include "panes/PaneToolBar.h"

#include <QAction>
#include <QToolBar>
#include <QToolButton>

namespace panes {

QToolBar* MakePaneToolBar(QWidget* parent)
{
    auto* toolBar = new QToolBar(parent);
    toolBar->setObjectName(QStringLiteral("paneToolBar"));
    toolBar->setAccessibleName(QStringLiteral("Панель инструментов"));
    toolBar->setMovable(false);
    toolBar->setFloatable(false);
    const int icon = toolBar->fontMetrics().height();
    toolBar->setIconSize(QSize(icon, icon));
    toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    return toolBar;
}

QAction* AddPaneCommand(QToolBar* toolBar, const QIcon& icon, const QString& text,
                        const QString& objectName)
{
    QAction* action = toolBar->addAction(icon, text);
    action->setObjectName(objectName);
    action->setToolTip(text);
    if (QWidget* button = toolBar->widgetForAction(action)) {
        button->setObjectName(objectName + QStringLiteral("_button"));
        button->setFocusPolicy(Qt::TabFocus);
        button->setAccessibleName(text);
    }
    return action;
}

} // namespace panes
