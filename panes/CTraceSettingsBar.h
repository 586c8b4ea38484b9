#pragma once

// The route trace's settings pane ("Настройки"): the RouteSettings of the next
// trace and of "Применить". Each value is an edit with an up-down; reading a
// value clamps what was typed to its range and shows the value used.
//
//   "Размер пакета", "байт"  1 - 65500   (32)    size
//   "Тайм-аут", "мс"         200 - 5000  (500)   time-out
//   "Интервал", "мс"         200 - 60000 (5000)  interval
//   "Шаги"                   1 - 255     (30)    steps
//
// Threads: the GUI thread only.

#include "diag/TraceInfo.h"

#include <QWidget>

class QPushButton;

namespace panes {

class CClampedSpinBox;

class CTraceSettingsBar final : public QWidget
{
    Q_OBJECT

public:
    explicit CTraceSettingsBar(QWidget* parent);

    // The values to use, each read back into its control.
    diag::RouteSettings ReadSettings();

    CClampedSpinBox* SizeBox() const { return m_size; }
    CClampedSpinBox* TimeOutBox() const { return m_timeOut; }
    CClampedSpinBox* IntervalBox() const { return m_interval; }
    CClampedSpinBox* StepsBox() const { return m_steps; }
    QPushButton* ApplyButton() const { return m_apply; }

signals:
    // "Применить".
    void applyRequested();

private:
    CClampedSpinBox* m_size;
    CClampedSpinBox* m_timeOut;
    CClampedSpinBox* m_interval;
    CClampedSpinBox* m_steps;
    QPushButton* m_apply;
};

} // namespace panes
