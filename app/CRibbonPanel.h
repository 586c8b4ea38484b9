#pragma once

// A captioned group of ribbon controls ("Управление", "Вид"): a row of large
// buttons and address boxes over the panel's caption.
//
// Threads: the GUI thread only.

#include <QWidget>

class QAction;
class QComboBox;
class QHBoxLayout;

namespace app {

class CRibbonPanel final : public QWidget
{
public:
    CRibbonPanel(const QString& caption, QWidget* parent);

    void AddLargeButton(QAction* action);
    // "IP адрес" over an editable combo box; its enabled state follows the
    // action (whose caption is the label).
    QComboBox* AddAddressBox(QAction* action);
    QString Caption() const { return m_caption; }

private:
    QString m_caption;
    QHBoxLayout* m_row;
};

} // namespace app
