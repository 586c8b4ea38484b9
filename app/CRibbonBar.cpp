#include "app/CRibbonBar.h"

#include "app/CRibbonPanel.h"

#include <QAction>
#include <QFrame>
#include <QHBoxLayout>
#include <QMenu>
#include <QStackedWidget>
#include <QTabBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace app {

namespace {

QFrame* Separator(QWidget* parent, QFrame::Shape shape)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(shape);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

class CStrip final : public QWidget
{
public:
    explicit CStrip(QWidget* parent) : QWidget(parent), m_layout(new QHBoxLayout(this))
    {
        const int gap = fontMetrics().height() / 4;
        m_layout->setContentsMargins(gap, 0, gap, gap);
        m_layout->setSpacing(gap);
        m_layout->addStretch(1);
    }
    void Add(CRibbonPanel* panel)
    {
        // Before the stretch, with a line after each panel.
        const int at = m_layout->count() - 1;
        m_layout->insertWidget(at, panel);
        m_layout->insertWidget(at + 1, Separator(this, QFrame::VLine));
    }

private:
    QHBoxLayout* m_layout;
};

} // namespace

CRibbonBar::CRibbonBar(QWidget* parent)
    : QWidget(parent), m_mainMenu(new QMenu(QStringLiteral("&Файл"), this)),
      m_fileButton(new QToolButton(this)), m_quickAccess(new QHBoxLayout), m_tabs(new QTabBar(this)),
      m_about(new QToolButton(this)), m_strips(new QStackedWidget(this))
{
    setObjectName(QStringLiteral("ribbon"));
    setAccessibleName(QStringLiteral("Лента"));

    m_mainMenu->setObjectName(QStringLiteral("mainMenu"));
    m_fileButton->setObjectName(QStringLiteral("fileButton"));
    m_fileButton->setText(QStringLiteral("&Файл"));
    m_fileButton->setAccessibleName(QStringLiteral("Файл"));
    m_fileButton->setMenu(m_mainMenu);
    m_fileButton->setPopupMode(QToolButton::InstantPopup);
    m_fileButton->setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_fileButton->setFocusPolicy(Qt::StrongFocus);
    // The main menu button stands out from the tabs in the accent colour,
    // taken from the palette so it works in light and dark themes alike.
    const int line = fontMetrics().height();
    m_fileButton->setStyleSheet(
        QStringLiteral("QToolButton#fileButton { background: palette(highlight);"
                       " color: palette(highlighted-text); border: none; border-radius: 3px;"
                       " padding: %1px %2px; margin: %1px; }"
                       "QToolButton#fileButton:hover { background: palette(dark); }"
                       "QToolButton#fileButton::menu-indicator { image: none; width: 0; }")
            .arg(line / 6)
            .arg(line * 3 / 4));

    m_tabs->setObjectName(QStringLiteral("categoryTabs"));
    m_tabs->setAccessibleName(QStringLiteral("Категории"));
    m_tabs->setDocumentMode(true);
    m_tabs->setExpanding(false);
    m_tabs->setDrawBase(false);
    m_tabs->setFocusPolicy(Qt::StrongFocus);

    m_about->setObjectName(QStringLiteral("aboutButton"));
    m_about->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_about->setAutoRaise(true);
    m_about->setFocusPolicy(Qt::StrongFocus);
    m_about->setIconSize(QSize(line, line));
    m_about->hide();

    auto* tabRow = new QHBoxLayout;
    tabRow->setContentsMargins(0, 0, line / 4, 0);
    tabRow->setSpacing(line / 4);
    tabRow->addWidget(m_fileButton);
    m_quickAccess->setSpacing(0);
    tabRow->addLayout(m_quickAccess);
    tabRow->addWidget(Separator(this, QFrame::VLine));
    tabRow->addWidget(m_tabs, 0, Qt::AlignBottom);
    tabRow->addStretch(1);
    tabRow->addWidget(m_about);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addLayout(tabRow);
    column->addWidget(Separator(this, QFrame::HLine));
    column->addWidget(m_strips);
    column->addWidget(Separator(this, QFrame::HLine));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    connect(m_tabs, &QTabBar::currentChanged, this, [this](int index) {
        if (index >= 0 && index < m_strips->count())
            m_strips->setCurrentIndex(index);
        emit categoryChanged(index);
    });
}

void CRibbonBar::AddQuickAccess(QAction* action)
{
    auto* button = new QToolButton(this);
    button->setDefaultAction(action);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::StrongFocus);
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    const int line = fontMetrics().height();
    button->setIconSize(QSize(line, line));
    QString plain = action->text();
    plain.remove(QLatin1Char('&'));
    button->setAccessibleName(plain);
    button->setObjectName(action->objectName() + QStringLiteral("_quick"));
    m_quickAccess->addWidget(button);
}

void CRibbonBar::SetAboutAction(QAction* action)
{
    m_about->setDefaultAction(action);
    m_about->setAccessibleName(action->text());
    m_about->show();
}

int CRibbonBar::AddCategory(const QString& caption)
{
    auto* strip = new CStrip(m_strips);
    strip->setAccessibleName(caption);
    m_strips->addWidget(strip);
    const QSignalBlocker quiet(m_tabs); // the first tab is not a change
    return m_tabs->addTab(caption);
}

CRibbonPanel* CRibbonBar::AddPanel(int category, const QString& caption)
{
    auto* strip = static_cast<CStrip*>(m_strips->widget(category));
    auto* panel = new CRibbonPanel(caption, strip);
    strip->Add(panel);
    return panel;
}

int CRibbonBar::CurrentCategory() const
{
    return m_tabs->currentIndex();
}

void CRibbonBar::SetCurrentCategory(int category)
{
    m_tabs->setCurrentIndex(category);
}

int CRibbonBar::CategoryCount() const
{
    return m_tabs->count();
}

QString CRibbonBar::CategoryCaption(int category) const
{
    return m_tabs->tabText(category);
}

} // namespace app
