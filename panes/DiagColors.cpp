#include "panes/DiagColors.h"

namespace panes {

QColor FailureTextColor(const QPalette& palette)
{
    const bool darkBase = palette.color(QPalette::Base).lightnessF() < 0.5;
    return darkBase ? QColor(255, 120, 110) : QColor(200, 0, 0);
}

} // namespace panes
