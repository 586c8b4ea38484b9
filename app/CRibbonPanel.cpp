#include "app/CRibbonPanel.h"

#include "app/CRibbonButton.h"

#include <QAction>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace app {

CRibbonPanel::CRibbonPanel(const QString& caption, QWidget* parent)
    : QWidget(parent), m_caption(caption), m_row(new QHBoxLayout)
{
    setObjectName(QStringLiteral("panel_") + caption);
    setAccessibleName(caption);
    auto* column = new QVBoxLayout(this);
    const int gap = fontMetrics().height() / 4;
    column->setContentsMargins(gap, gap, gap, 0);
    column->setSpacing(gap);
    m_row->setSpacing(gap);
    column->addLayout(m_row, 1);
    auto* label = new QLabel(caption, this);
    label->setAlignment(Qt::AlignHCenter);
    // Muted like a group caption; a role, not a colour, so it follows the
    // palette when the desktop switches between light and dark.
    label->setForegroundRole(QPalette::PlaceholderText);
    column->addWidget(label);
}

void CRibbonPanel::AddLargeButton(QAction* action)
{
    m_row->addWidget(new CRibbonButton(action, this));
}

QComboBox* CRibbonPanel::AddAddressBox(QAction* action)
{
    auto* box = new QWidget(this);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(action->text(), box);
    auto* combo = new QComboBox(box);
    combo->setObjectName(action->objectName());
    combo->setEditable(true);
    // The text is added to the list only when every address in it was valid.
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setMaxCount(20);
    // Wide enough for two addresses and the separator.
    combo->setMinimumWidth(fontMetrics().averageCharWidth() * 32);
    combo->setAccessibleName(action->text());
    combo->lineEdit()->setAccessibleName(action->text());
    label->setBuddy(combo);
    layout->addStretch(1);
    layout->addWidget(label);
    layout->addWidget(combo);
    layout->addStretch(1);
    QObject::connect(action, &QAction::changed, combo,
                     [combo, action] { combo->setEnabled(action->isEnabled()); });
    combo->setEnabled(action->isEnabled());
    m_row->addWidget(box);
    return combo;
}

} // namespace app
