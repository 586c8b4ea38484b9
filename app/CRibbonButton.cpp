#include "app/CRibbonButton.h"

#include <QAction>

namespace app {

namespace {
// Captions up to this many characters stay on one line ("Настройки").
constexpr int kOneLineLength = 10;
} // namespace

CRibbonButton::CRibbonButton(QAction* action, QWidget* parent)
    : QToolButton(parent), m_action(action)
{
    setObjectName(action->objectName() + QStringLiteral("_button"));
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    setAutoRaise(true);
    setFocusPolicy(Qt::StrongFocus);
    const int line = fontMetrics().height();
    setIconSize(QSize(line * 2, line * 2));
    // Icon, two lines of caption and the frame: the same for every large button.
    setMinimumHeight(line * 2 + fontMetrics().lineSpacing() * 2 + line);
    setMinimumWidth(line * 4);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    connect(this, &QToolButton::clicked, action, [this] {
        // A checkable action flips itself on trigger; the button only asks.
        if (m_action->isEnabled())
            m_action->trigger();
        Sync();
    });
    connect(action, &QAction::changed, this, &CRibbonButton::Sync);
    Sync();
}

QString CRibbonButton::TwoLineCaption(const QString& caption)
{
    if (caption.size() <= kOneLineLength)
        return caption;
    const int middle = static_cast<int>(caption.size()) / 2;
    int best = -1;
    for (int i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char(' ') && (best < 0 || qAbs(i - middle) < qAbs(best - middle)))
            best = i;
    }
    if (best < 0)
        return caption;
    return caption.left(best) + QLatin1Char('\n') + caption.mid(best + 1);
}

void CRibbonButton::Sync()
{
    setText(TwoLineCaption(m_action->text()));
    setIcon(m_action->icon());
    setEnabled(m_action->isEnabled());
    setCheckable(m_action->isCheckable());
    setChecked(m_action->isChecked());
    QString plain = m_action->text();
    plain.remove(QLatin1Char('&'));
    setAccessibleName(plain);
    const QString keys = m_action->shortcut().toString(QKeySequence::NativeText);
    setToolTip(keys.isEmpty() ? plain : plain + QStringLiteral(" (") + keys + QLatin1Char(')'));
}

} // namespace app
