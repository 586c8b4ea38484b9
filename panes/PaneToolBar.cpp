#include "panes/PaneToolBar.h"

#include <QAbstractItemView>
#include <QAction>
#include <QKeyEvent>
#include <QIcon>
#include <QKeySequence>
#include <QToolBar>
#include <QToolButton>
#include <QWidget>

namespace panes {

QToolBar* MakePaneToolBar(QWidget* parent, const QString& accessibleName)
{
    auto* bar = new QToolBar(parent);
    bar->setObjectName(QStringLiteral("paneToolBar"));
    bar->setAccessibleName(accessibleName);
    // Icons as high as a line of text, so they grow with the user's font.
    const int icon = bar->fontMetrics().height();
    bar->setIconSize(QSize(icon, icon));
    bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    bar->setMovable(false);
    bar->setFloatable(false);
    return bar;
}

QAction* AddToolButton(QToolBar* bar, const QIcon& icon, const QString& text, bool checkable,
                       const QString& objectName)
{
    QAction* action = bar->addAction(icon, text);
    action->setToolTip(text);
    action->setCheckable(checkable);
    if (!objectName.isEmpty())
        action->setObjectName(objectName);
    if (QWidget* button = bar->widgetForAction(action)) {
        if (!objectName.isEmpty())
            button->setObjectName(objectName + QStringLiteral("_button"));
        // Tool buttons take no focus by default: the keyboard could not reach them.
        button->setFocusPolicy(Qt::TabFocus);
        button->setAccessibleName(text);
    }
    return action;
}

namespace {

// Item views answer the copy key themselves (with the current cell's text):
// the pane's copy takes the key before they see it.
class CCopyKeyFilter final : public QObject
{
public:
    CCopyKeyFilter(QAction* copy, QObject* parent) : QObject(parent), m_copy(copy) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->matches(QKeySequence::Copy)) {
                event->accept();
                if (event->type() == QEvent::KeyPress)
                    m_copy->trigger();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QAction* m_copy;
};

} // namespace

void AddCopyShortcut(QAction* copy, QWidget* scope)
{
    auto* shortcut = new QAction(copy->text(), scope);
    shortcut->setShortcut(QKeySequence::Copy);
    shortcut->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    QObject::connect(shortcut, &QAction::triggered, copy, &QAction::trigger);
    scope->addAction(shortcut);
    for (QAbstractItemView* view : scope->findChildren<QAbstractItemView*>())
        view->installEventFilter(new CCopyKeyFilter(copy, view));
}

} // namespace panes
