#pragma once

// The ribbon of the main window, as a plain Linux widget: a tab row with the
// "Файл" menu button, the quick-access buttons (New, Open, Save), the category
// tabs and "О программе" at the right; under it, the current category's strip
// of captioned panels (CRibbonPanel). It only lays out controls for the
// frame's actions: what a command does and when it is enabled is the frame's.
//
// Threads: the GUI thread only.

#include <QWidget>

class QAction;
class QMenu;
class QStackedWidget;
class QTabBar;
class QToolButton;
class QHBoxLayout;

namespace app {

class CRibbonPanel;

class CRibbonBar final : public QWidget
{
    Q_OBJECT

public:
    explicit CRibbonBar(QWidget* parent);

    // The "Файл" main menu; the frame fills it.
    QMenu* MainMenu() const { return m_mainMenu; }
    void AddQuickAccess(QAction* action);
    void SetAboutAction(QAction* action);

    // A category tab with an empty strip; returns its index.
    int AddCategory(const QString& caption);
    CRibbonPanel* AddPanel(int category, const QString& caption);

    int CurrentCategory() const;
    void SetCurrentCategory(int category);
    int CategoryCount() const;
    QString CategoryCaption(int category) const;
    QTabBar* Tabs() const { return m_tabs; }

signals:
    void categoryChanged(int category);

private:
    QMenu* m_mainMenu;
    QToolButton* m_fileButton;
    QHBoxLayout* m_quickAccess;
    QTabBar* m_tabs;
    QToolButton* m_about;
    QStackedWidget* m_strips;
};

} // namespace app
