#pragma once

// The echo request's targets pane ("Узлы"): a toolbar with
// "Скопировать значения в буфер обмена" and the statistics tree
// (CPingGridModel). Selecting any row of a target, by mouse or keyboard, tells
// which target's results to show (targetSelected, once per change of target).
//
// Threads: the GUI thread only.

#include "diag/PingInfo.h"

#include <QWidget>

#include <string>
#include <vector>

class QAction;
class QTreeView;

namespace panes {

class CPingGridModel;
class IPaneClipboard;

class CPingBar final : public QWidget
{
    Q_OBJECT

public:
    // clipboard: where the copy goes (the system's when null); it outlives the pane.
    explicit CPingBar(QWidget* parent, IPaneClipboard* clipboard = nullptr);

    // A new run: its targets, all expanded, none selected.
    void SetTargets(const std::vector<std::string>& addresses);
    void SetEngine(diag::IPingInfo* engine);
    // WM_ECHO_STATISTICS.
    void OnStatistics(int target);
    // Makes the target's row the current one (as a click on it would).
    void SelectTarget(int target);
    void Copy();

    CPingGridModel* Model() const { return m_model; }
    QTreeView* Tree() const { return m_tree; }
    QAction* CopyAction() const { return m_copy; }

signals:
    void targetSelected(int target);

private:
    void OnCurrentChanged();

    IPaneClipboard* m_clipboard;
    CPingGridModel* m_model;
    QTreeView* m_tree;
    QAction* m_copy;
    int m_lastTarget = -1;
};

} // namespace panes
