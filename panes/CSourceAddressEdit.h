#pragma once

// The echo settings' "Адрес источника": an edit that takes exactly four
// numbers of 0 to 255 separated by dots, as an IPv4 address control does.
// Like that control it always has an address: numbers not typed count as 0.
//
// Threads: the GUI thread only.

#include <QLineEdit>

namespace panes {

class CSourceAddressEdit final : public QLineEdit
{
    Q_OBJECT

public:
    explicit CSourceAddressEdit(QWidget* parent);

    // The address as the control reads it: "10.1.0.0" for "10.1", "0.0.0.0"
    // for nothing typed.
    QString AddressText() const;
};

} // namespace panes
