#pragma once

// An edit with an up-down whose typed value may lie outside its range: "300"
// can be typed into a box of 1 to 255 (a plain QSpinBox refuses the third
// key), and reading the box clamps it. So the box behaves like an edit with an
// up-down buddy: the number typed is taken, brought into the range, and shown
// as the value that is used.
//
// Threads: the GUI thread only.

#include <QSpinBox>

namespace panes {

class CClampedSpinBox final : public QSpinBox
{
    Q_OBJECT

public:
    CClampedSpinBox(int minimum, int maximum, int value, QWidget* parent);

    // The value that is used: the typed text read and clamped to the range,
    // written back into the box (so it shows that value) and read again.
    int ReadBack();

protected:
    QValidator::State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;
};

} // namespace panes
