#pragma once

// The echo request's settings pane ("Настройки"): the EchoSettings of the next
// run and of "Применить". Each value is an edit with an up-down; reading a
// value clamps what was typed to its range and shows the value used.
//
//   "Количество записей в окне События"  1 - 100000  (1000)  record limit
//   "Размер пакета", "байт"              1 - 65500   (32)    size
//   "TTL"                                1 - 255     (200)   TTL
//   "Интервал", "мс"                     200 - 60000 (1000)  interval
//   "Тайм-аут", "мс"                     200 - 5000  (500)   time-out
//   "Использовать адрес источника": checked and enabled exactly when the
//   extended echo call is available; "Адрес источника" (the first local
//   adapter address at first) is enabled while it is checked.
//
// Threads: the GUI thread only.

#include "diag/PingInfo.h"

#include <QWidget>

class QCheckBox;
class QPushButton;

namespace panes {

class CClampedSpinBox;
class CSourceAddressEdit;

class CPingSettingsBar final : public QWidget
{
    Q_OBJECT

public:
    CPingSettingsBar(bool extendedEchoAvailable, const QString& firstLocalAddress,
                     QWidget* parent);

    // The values to use, each read back into its control. The source is the
    // address control's text while "Использовать адрес источника" is checked,
    // else empty (the system chooses).
    diag::EchoSettings ReadSettings();

    CClampedSpinBox* RecordLimitBox() const { return m_recordLimit; }
    CClampedSpinBox* SizeBox() const { return m_size; }
    CClampedSpinBox* TtlBox() const { return m_ttl; }
    CClampedSpinBox* IntervalBox() const { return m_interval; }
    CClampedSpinBox* TimeOutBox() const { return m_timeOut; }
    QCheckBox* UseSourceBox() const { return m_useSource; }
    CSourceAddressEdit* SourceEdit() const { return m_source; }
    QPushButton* ApplyButton() const { return m_apply; }

signals:
    // "Применить".
    void applyRequested();

private:
    CClampedSpinBox* m_recordLimit;
    CClampedSpinBox* m_size;
    CClampedSpinBox* m_ttl;
    CClampedSpinBox* m_interval;
    CClampedSpinBox* m_timeOut;
    QCheckBox* m_useSource;
    CSourceAddressEdit* m_source;
    QPushButton* m_apply;
};

} // namespace panes
