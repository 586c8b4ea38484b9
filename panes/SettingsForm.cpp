#include "panes/SettingsForm.h"

#include <QGridLayout>
#include <QLabel>

namespace panes {

void AddSettingsRow(QGridLayout& grid, const QString& caption, QWidget* edit, const QString& unit)
{
    const int row = grid.rowCount();
    auto* label = new QLabel(caption, grid.parentWidget());
    label->setWordWrap(true); // long captions wrap instead of being cut in a narrow dock
    label->setBuddy(edit);
    edit->setAccessibleName(caption);
    grid.addWidget(label, row, 0);
    grid.addWidget(edit, row, 1);
    if (!unit.isEmpty()) {
        auto* unitLabel = new QLabel(unit, grid.parentWidget());
        edit->setAccessibleDescription(unit);
        grid.addWidget(unitLabel, row, 2);
    }
}

} // namespace panes
