#pragma once

// One of the three views of the main window (channels, echo request, route):
// a caption over one content pane, as the views host their panes ("Открытые
// порты" in the channel view, "События" in the echo and route views). Until a
// pane is set the content is an empty placeholder.
//
// Threads: the GUI thread only.

#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace panes {

class CPaneView final : public QWidget
{
public:
    CPaneView(const QString& caption, const QString& objectName, QWidget* parent);

    // Puts the content in place of the current one (the view takes it over).
    void SetContent(QWidget* content);
    QWidget* Content() const { return m_content; }
    QString Caption() const;

private:
    QVBoxLayout* m_layout;
    QLabel* m_caption;
    QWidget* m_content;
};

} // namespace panes
