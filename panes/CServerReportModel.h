#pragma once

// The server pane's report (core::CServerRows) as an item model, in one of two
// shapes: grouped, a group row per channel pair with its port rows under it;
// flat, the port rows alone. Five columns: "Статус" (with the state image),
// "Протокол", "Порт", "Отправитель <-> Получатель", "ID"; the view hides the
// last always and the pair column while grouped.
//
// Internal ids: 0 for a top-level row (a group row when grouped, a port row
// when flat), group number + 1 for a port row under a group. Filling and a
// change of shape reset the model; a reported state changes the cells of the
// rows that took it.
//
// Threads: the GUI thread only.

#include "core/CServerRows.h"

#include <QAbstractItemModel>

#include <optional>
#include <vector>

namespace panes {

class CServerReportModel final : public QAbstractItemModel
{
    Q_OBJECT

public:
    static constexpr int ColumnCount = 5;
    static constexpr int PairColumn = 3;
    static constexpr int IdColumn = 4;

    explicit CServerReportModel(QObject* parent = nullptr);
    ~CServerReportModel() override;

    void Fill(const std::vector<std::unique_ptr<channel::SchemeGroup>>& groups);
    void Clear();
    // Returns whether a row took the state.
    bool Apply(const core::ServerRow& logicRow, std::optional<std::uint32_t> eventSequence);

    void SetGrouped(bool grouped);
    bool IsGrouped() const { return m_grouped; }

    const core::CServerRows& Rows() const { return m_rows; }
    // The report row of an index; none for a group row or an invalid index.
    std::optional<int> RowOf(const QModelIndex& index) const;
    bool IsGroupRow(const QModelIndex& index) const;
    // The pair text of a group row ("" for anything else).
    std::wstring GroupTextOf(const QModelIndex& index) const;
    QModelIndex IndexOfRow(int row, int column = 0) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct Group
    {
        std::wstring text;
        std::vector<int> rows;
    };
    struct Place
    {
        int group = -1; // -1: top level (flat)
        int position = 0;
    };

    void Arrange();

    core::CServerRows m_rows;
    bool m_grouped = true;
    std::vector<Group> m_groups; // grouped
    std::vector<int> m_flat;     // flat
    std::vector<Place> m_places; // by report row
};

} // namespace panes
