#pragma once

// The route targets tree: one row per target, in the order typed, showing its
// address (image 0), with one child row for its route state:
//
//   "Маршрут строится" (no image), "Маршрут построен" (image 1),
//   "Маршрут не построен" (image 2).
//
// One unnamed column. Each target row keeps its own target index, so an
// address typed twice shows the state of each copy.
//
// Threads: the GUI thread only; the engine is read through ITraceInfo after
// its posted messages.

#include "diag/TraceInfo.h"

#include <QAbstractItemModel>
#include <QIcon>

#include <string>
#include <vector>

namespace panes {

class CTraceGridModel final : public QAbstractItemModel
{
    Q_OBJECT

public:
    explicit CTraceGridModel(QObject* parent);

    // The run's targets (row i is target i), each "Маршрут строится".
    void SetTargets(const std::vector<std::string>& addresses);
    void SetEngine(diag::ITraceInfo* engine) { m_engine = engine; }
    // WM_ROUTE_STATE: the target's state may have changed.
    void OnRouteState(int target);

    int TargetOf(const QModelIndex& index) const;
    QModelIndex TargetRow(int target) const;
    int TargetCount() const { return static_cast<int>(m_targets.size()); }
    std::int32_t State(int target) const;

    // The clipboard text: per row, top to bottom, one tab per level, the text
    // and CR LF (an address line, then its indented state line).
    QString CopyText() const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct Target
    {
        QString address;
        std::int32_t state = diag::ROUTE_BUILDING;
    };

    diag::ITraceInfo* m_engine = nullptr;
    std::vector<Target> m_targets;
    QIcon m_targetIcon;
    QIcon m_builtIcon;
    QIcon m_failedIcon;
};

} // namespace panes
