#pragma once

// The scheme editor's grid: one row per channel, in one of two shapes.
//
//   flat     a list of channel rows with the columns "Отправитель",
//            "Получатель", "Протокол", "Порт ->", "<- Порт";
//   grouped  a tree sender -> receiver -> protocol -> channel rows. Senders and
//            receivers come in UTF-16 code-unit order, protocols as TCP, UDP, IP,
//            channels in row order. The ports come first here ("Порт ->",
//            "<- Порт", then the three grouping columns, which the view hides):
//            the tree and the group labels live in column 0, and a view cannot
//            draw either in a hidden column.
//
// Whatever the shape, the channels are one list in row order (Channels()); that
// order is what the scheme is collected from. A channel is addressed by its
// position in that list, its "row"; group rows have none.
//
// Every change resets the model (a scheme is at most some hundred channels, and
// a reset keeps the tree bookkeeping trivially right); views restore their
// selection from rows.
//
// Threads: the GUI thread only.

#include "dialogs/ChannelEntry.h"

#include <QAbstractItemModel>

#include <memory>
#include <optional>
#include <vector>

namespace dialogs {

class CSchemeGridModel final : public QAbstractItemModel
{
    Q_OBJECT

public:
    // What a column shows.
    enum class Field
    {
        Sender,
        Receiver,
        Protocol,
        SenderPort,
        ReceiverPort,
    };
    static constexpr int ColumnCount = 5;

    explicit CSchemeGridModel(QObject* parent = nullptr);
    ~CSchemeGridModel() override;

    void SetChannels(std::vector<ChannelEntry> channels);
    const std::vector<ChannelEntry>& Channels() const { return m_channels; }
    // Appends a channel; returns its row.
    int AddChannel(const ChannelEntry& channel);
    void RemoveChannel(int row);
    void ReplaceChannel(int row, const ChannelEntry& channel);

    void SetGrouped(bool grouped);
    bool IsGrouped() const { return m_grouped; }

    Field FieldOfColumn(int column) const;
    int ColumnOf(Field field) const;
    // Sender, receiver and protocol: the columns hidden while grouped.
    static bool IsGroupingField(Field field) { return field <= Field::Protocol; }

    // The channel row of an index, or nothing for a group row or an invalid index.
    std::optional<int> RowOf(const QModelIndex& index) const;
    bool IsGroupRow(const QModelIndex& index) const;
    // The index (column 0) that shows a channel row.
    QModelIndex IndexOfRow(int row) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct Node;

    void Rebuild();
    const Node* NodeOf(const QModelIndex& index) const;
    QString ChannelText(const ChannelEntry& channel, Field field) const;

    std::vector<ChannelEntry> m_channels;
    bool m_grouped = false;
    std::unique_ptr<Node> m_root;
    std::vector<const Node*> m_channelNodes; // by row
};

} // namespace dialogs
