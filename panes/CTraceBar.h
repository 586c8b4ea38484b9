#pragma once

// The route trace's targets pane ("Узлы"): the targets tree with each
// target's route state (CTraceGridModel), without a toolbar; Ctrl+C copies
// it. Selecting any row of a target, by mouse or keyboard, tells which
// target's hops to show (targetSelected, once per change of target).
//
// Threads: the GUI thread only.

#include "diag/TraceInfo.h"

#include <QWidget>

#include <string>
#include <vector>

class QAction;
class QTreeView;

namespace panes {

class CTraceGridModel;
class IPaneClipboard;

class CTraceBar final : public QWidget
{
    Q_OBJECT

public:
    // clipboard: where the copy goes (the system's when null); it outlives the pane.
    explicit CTraceBar(QWidget* parent, IPaneClipboard* clipboard = nullptr);

    void SetTargets(const std::vector<std::string>& addresses);
    void SetEngine(diag::ITraceInfo* engine);
    // WM_ROUTE_STATE.
    void OnRouteState(int target);
    void SelectTarget(int target);
    void Copy();

    CTraceGridModel* Model() const { return m_model; }
    QTreeView* Tree() const { return m_tree; }
    QAction* CopyAction() const { return m_copy; }

signals:
    void targetSelected(int target);

private:
    void OnCurrentChanged();

    IPaneClipboard* m_clipboard;
    CTraceGridModel* m_model;
    QTreeView* m_tree;
    QAction* m_copy;
    int m_lastTarget = -1;
};

} // namespace panes
