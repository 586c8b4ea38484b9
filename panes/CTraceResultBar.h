#pragma once

// The route trace's hops pane (in the route view, caption "События"): a
// toolbar with the copy command and the selected target's hops
// (CTraceResultModel). No auto-scroll: the list is one row per step.
//
// Threads: the GUI thread only.

#include "diag/TraceInfo.h"

#include <QWidget>

class QAction;
class QTableView;

namespace panes {

class CTraceResultModel;
class IPaneClipboard;

class CTraceResultBar final : public QWidget
{
    Q_OBJECT

public:
    // clipboard: where the copy goes (the system's when null); it outlives the pane.
    explicit CTraceResultBar(QWidget* parent, IPaneClipboard* clipboard = nullptr);

    void SetEngine(diag::ITraceInfo* engine);
    void ShowTarget(int target);
    // WM_ROUTE_HOPS: ignored unless the target is the one shown.
    void OnHops(int target, int count);
    void Copy();

    CTraceResultModel* Model() const { return m_model; }
    QTableView* Table() const { return m_table; }
    QAction* CopyAction() const { return m_copy; }

protected:
    void changeEvent(QEvent* event) override;

private:
    IPaneClipboard* m_clipboard;
    diag::ITraceInfo* m_engine = nullptr;
    CTraceResultModel* m_model;
    QTableView* m_table;
    QAction* m_copy;
};

} // namespace panes
