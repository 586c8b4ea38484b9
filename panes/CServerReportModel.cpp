#include "panes/CServerReportModel.h"

#include "panes/ChannelPaneArtwork.h"

#include <QFont>

namespace panes {

namespace {

const char* const kHeaders[CServerReportModel::ColumnCount] = {"Статус", "Протокол", "Порт",
                                                               "Отправитель <-> Получатель", "ID"};

} // namespace

CServerReportModel::CServerReportModel(QObject* parent) : QAbstractItemModel(parent) {}

CServerReportModel::~CServerReportModel() = default;

void CServerReportModel::Fill(const std::vector<std::unique_ptr<channel::SchemeGroup>>& groups)
{
    beginResetModel();
    m_rows.Fill(groups);
    Arrange();
    endResetModel();
}

void CServerReportModel::Clear()
{
    beginResetModel();
    m_rows.Clear();
    Arrange();
    endResetModel();
}

void CServerReportModel::SetGrouped(bool grouped)
{
    if (grouped == m_grouped)
        return;
    beginResetModel();
    m_grouped = grouped;
    Arrange();
    endResetModel();
}

void CServerReportModel::Arrange()
{
    m_groups.clear();
    m_flat.clear();
    m_places.assign(static_cast<std::size_t>(m_rows.Count()), Place{});
    for (const core::CServerRows::Line& line : m_rows.Lines(m_grouped)) {
        if (line.IsGroup()) {
            m_groups.push_back(Group{line.groupText, {}});
            continue;
        }
        Place& place = m_places[static_cast<std::size_t>(line.row)];
        if (m_grouped) {
            place.group = static_cast<int>(m_groups.size()) - 1;
            place.position = static_cast<int>(m_groups.back().rows.size());
            m_groups.back().rows.push_back(line.row);
        } else {
            place.group = -1;
            place.position = static_cast<int>(m_flat.size());
            m_flat.push_back(line.row);
        }
    }
}

bool CServerReportModel::Apply(const core::ServerRow& logicRow,
                               std::optional<std::uint32_t> eventSequence)
{
    const std::vector<int> changed = m_rows.Apply(logicRow, eventSequence);
    for (int row : changed)
        emit dataChanged(IndexOfRow(row, 0), IndexOfRow(row, ColumnCount - 1));
    return !changed.empty();
}

std::optional<int> CServerReportModel::RowOf(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this)
        return std::nullopt;
    const quintptr id = index.internalId();
    if (m_grouped) {
        if (id == 0)
            return std::nullopt;
        const auto group = static_cast<std::size_t>(id - 1);
        if (group >= m_groups.size() ||
            index.row() >= static_cast<int>(m_groups[group].rows.size()))
            return std::nullopt;
        return m_groups[group].rows[static_cast<std::size_t>(index.row())];
    }
    if (index.row() >= static_cast<int>(m_flat.size()))
        return std::nullopt;
    return m_flat[static_cast<std::size_t>(index.row())];
}

bool CServerReportModel::IsGroupRow(const QModelIndex& index) const
{
    return index.isValid() && index.model() == this && m_grouped && index.internalId() == 0 &&
           index.row() < static_cast<int>(m_groups.size());
}

std::wstring CServerReportModel::GroupTextOf(const QModelIndex& index) const
{
    return IsGroupRow(index) ? m_groups[static_cast<std::size_t>(index.row())].text
                             : std::wstring();
}

QModelIndex CServerReportModel::IndexOfRow(int row, int column) const
{
    if (row < 0 || row >= static_cast<int>(m_places.size()))
        return {};
    const Place& place = m_places[static_cast<std::size_t>(row)];
    return createIndex(place.position, column, static_cast<quintptr>(place.group + 1));
}

QModelIndex CServerReportModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column < 0 || column >= ColumnCount)
        return {};
    if (!parent.isValid()) {
        const std::size_t count = m_grouped ? m_groups.size() : m_flat.size();
        return row < static_cast<int>(count) ? createIndex(row, column, quintptr(0))
                                             : QModelIndex();
    }
    if (!IsGroupRow(parent) || parent.column() != 0)
        return {};
    const Group& group = m_groups[static_cast<std::size_t>(parent.row())];
    if (row >= static_cast<int>(group.rows.size()))
        return {};
    return createIndex(row, column, static_cast<quintptr>(parent.row() + 1));
}

QModelIndex CServerReportModel::parent(const QModelIndex& child) const
{
    if (!child.isValid() || child.model() != this || child.internalId() == 0)
        return {};
    return createIndex(static_cast<int>(child.internalId() - 1), 0, quintptr(0));
}

int CServerReportModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return static_cast<int>(m_grouped ? m_groups.size() : m_flat.size());
    if (!IsGroupRow(parent) || parent.column() != 0)
        return 0;
    return static_cast<int>(m_groups[static_cast<std::size_t>(parent.row())].rows.size());
}

int CServerReportModel::columnCount(const QModelIndex&) const
{
    return ColumnCount;
}

QVariant CServerReportModel::data(const QModelIndex& index, int role) const
{
    if (IsGroupRow(index)) {
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
            return index.column() == 0 ? QString::fromStdWString(
                                             m_groups[static_cast<std::size_t>(index.row())].text)
                                       : QVariant();
        if (role == Qt::FontRole) {
            QFont font;
            font.setBold(true);
            return font;
        }
        return {};
    }
    const std::optional<int> row = RowOf(index);
    if (!row)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole: return QString::fromStdWString(m_rows.Text(*row, index.column()));
    case Qt::DecorationRole:
        if (index.column() == 0 && m_rows.At(*row).image != core::CServerRows::ImageNone)
            return ServerStateIcon(m_rows.At(*row).image);
        return {};
    case Qt::TextAlignmentRole:
        if (index.column() == IdColumn)
            return QVariant((Qt::AlignRight | Qt::AlignVCenter).toInt());
        return {};
    default: return {};
    }
}

QVariant CServerReportModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return QString::fromUtf8(kHeaders[section]);
    return {};
}

Qt::ItemFlags CServerReportModel::flags(const QModelIndex& index) const
{
    if (!IsGroupRow(index) && !RowOf(index))
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

} // namespace panes
