#include "panes/CClientGridModel.h"

#include "panes/ChannelPaneArtwork.h"

namespace panes {

namespace {

const char* const kHeaders[core::CPortRows::ColumnCount] = {"", "Порт ->", "<- Порт", "Отправлено",
                                                            "Успешно"};

} // namespace

CClientGridModel::CClientGridModel(QObject* parent) : QAbstractItemModel(parent) {}

CClientGridModel::~CClientGridModel() = default;

void CClientGridModel::Build(const std::vector<std::string>& peers,
                             const std::vector<std::unique_ptr<channel::SchemeGroup>>& groups)
{
    beginResetModel();
    m_rows.Build(peers, groups);
    endResetModel();
}

void CClientGridModel::Clear()
{
    beginResetModel();
    m_rows.Clear();
    endResetModel();
}

bool CClientGridModel::Apply(const channel::ClientRow& row,
                             std::optional<std::uint32_t> eventSequence)
{
    const std::vector<int> changed = m_rows.Apply(row, eventSequence);
    for (int node : changed)
        emit dataChanged(IndexOfNode(node, 0), IndexOfNode(node, core::CPortRows::ColumnCount - 1));
    return !changed.empty();
}

int CClientGridModel::NodeOf(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this)
        return -1;
    const auto node = static_cast<int>(index.internalId());
    return node < m_rows.NodeCount() ? node : -1;
}

QModelIndex CClientGridModel::IndexOfNode(int node, int column) const
{
    if (node < 0 || node >= m_rows.NodeCount())
        return {};
    return createIndex(m_rows.At(node).row, column, static_cast<quintptr>(node));
}

QModelIndex CClientGridModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column < 0 || column >= core::CPortRows::ColumnCount)
        return {};
    const std::vector<int>* children = &m_rows.Peers();
    if (parent.isValid()) {
        const int node = NodeOf(parent);
        if (node < 0 || parent.column() != 0)
            return {};
        children = &m_rows.At(node).children;
    }
    if (row >= static_cast<int>(children->size()))
        return {};
    return createIndex(row, column,
                       static_cast<quintptr>((*children)[static_cast<std::size_t>(row)]));
}

QModelIndex CClientGridModel::parent(const QModelIndex& child) const
{
    const int node = NodeOf(child);
    if (node < 0)
        return {};
    return IndexOfNode(m_rows.At(node).parent, 0);
}

int CClientGridModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return static_cast<int>(m_rows.Peers().size());
    const int node = NodeOf(parent);
    if (node < 0 || parent.column() != 0)
        return 0;
    return static_cast<int>(m_rows.At(node).children.size());
}

int CClientGridModel::columnCount(const QModelIndex&) const
{
    return core::CPortRows::ColumnCount;
}

QVariant CClientGridModel::data(const QModelIndex& index, int role) const
{
    const int node = NodeOf(index);
    if (node < 0)
        return {};
    const core::CPortRows::Node& row = m_rows.At(node);
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole: return QString::fromStdWString(m_rows.Text(node, index.column()));
    case Qt::DecorationRole:
        if (index.column() == 0 && row.image != core::CPortRows::ImageNone)
            return ClientStateIcon(row.image);
        return {};
    case Qt::TextAlignmentRole:
        if (index.column() > 0)
            return QVariant((Qt::AlignRight | Qt::AlignVCenter).toInt());
        return {};
    case Qt::ToolTipRole:
        // Column 0 may be elided in a narrow dock.
        if (index.column() == 0)
            return QString::fromStdWString(m_rows.Text(node, 0));
        return {};
    default: return {};
    }
}

QVariant CClientGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= core::CPortRows::ColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromUtf8(kHeaders[section]);
    if (role == Qt::AccessibleTextRole)
        return section == 0 ? QStringLiteral("Состояние") : QString::fromUtf8(kHeaders[section]);
    return {};
}

Qt::ItemFlags CClientGridModel::flags(const QModelIndex& index) const
{
    if (NodeOf(index) < 0)
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

} // namespace panes
