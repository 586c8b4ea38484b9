#pragma once

// The client pane's tree (core::CPortRows) as an item model: peer rows at the
// top, then channel pairs, protocols and port rows, five columns ("", "Порт
// ->", "<- Порт", "Отправлено", "Успешно"). Column 0 carries the state image
// of pair and port rows.
//
// An index's internal id is the node number in core::CPortRows, so the tree
// bookkeeping is the core's. A new check or a scheme change resets the model;
// a client row changes the cells of the rows it updates (one dataChanged per
// changed row).
//
// Threads: the GUI thread only.

#include "channel/ClientRow.h"
#include "channel/SchemeGroup.h"
#include "core/CPortRows.h"

#include <QAbstractItemModel>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace panes {

class CClientGridModel final : public QAbstractItemModel
{
    Q_OBJECT

public:
    explicit CClientGridModel(QObject* parent = nullptr);
    ~CClientGridModel() override;

    void Build(const std::vector<std::string>& peers,
               const std::vector<std::unique_ptr<channel::SchemeGroup>>& groups);
    void Clear();
    // Returns whether a row of the grid took it.
    bool Apply(const channel::ClientRow& row, std::optional<std::uint32_t> eventSequence);

    const core::CPortRows& Rows() const { return m_rows; }
    // The node of an index, -1 for an invalid one.
    int NodeOf(const QModelIndex& index) const;
    QModelIndex IndexOfNode(int node, int column = 0) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    core::CPortRows m_rows;
};

} // namespace panes
