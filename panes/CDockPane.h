#pragma once

// A dock of the main window: a caption, an object name under which its place
// is kept in the saved window state, and one content widget (an empty
// placeholder until a pane is set). Closing it with its own close button is
// reported, so that the frame's visibility flag follows the user.
//
// Threads: the GUI thread only.

#include <QDockWidget>

namespace panes {

class CDockPane final : public QDockWidget
{
    Q_OBJECT

public:
    // id: the pane's numeric identifier, kept as the property "paneId".
    CDockPane(const QString& caption, const QString& objectName, int id, QWidget* parent);

    // Puts the content in place of the placeholder (the dock takes it over).
    void SetContent(QWidget* content);
    int Id() const { return m_id; }

signals:
    // The user closed the dock with its close button.
    void closedByUser();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    int m_id;
};

} // namespace panes
