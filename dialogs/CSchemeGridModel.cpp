#include "dialogs/CSchemeGridModel.h"

#include <algorithm>
#include <map>

namespace dialogs {

namespace {

constexpr CSchemeGridModel::Field kFlatFields[] = {
    CSchemeGridModel::Field::Sender,       CSchemeGridModel::Field::Receiver,
    CSchemeGridModel::Field::Protocol,     CSchemeGridModel::Field::SenderPort,
    CSchemeGridModel::Field::ReceiverPort,
};
constexpr CSchemeGridModel::Field kGroupedFields[] = {
    CSchemeGridModel::Field::SenderPort, CSchemeGridModel::Field::ReceiverPort,
    CSchemeGridModel::Field::Sender,     CSchemeGridModel::Field::Receiver,
    CSchemeGridModel::Field::Protocol,
};

QString FieldCaption(CSchemeGridModel::Field field)
{
    switch (field) {
    case CSchemeGridModel::Field::Sender: return QStringLiteral("Отправитель");
    case CSchemeGridModel::Field::Receiver: return QStringLiteral("Получатель");
    case CSchemeGridModel::Field::Protocol: return QStringLiteral("Протокол");
    case CSchemeGridModel::Field::SenderPort: return QStringLiteral("Порт ->");
    case CSchemeGridModel::Field::ReceiverPort: return QStringLiteral("<- Порт");
    }
    return {};
}

// TCP, UDP, IP first in that order; any other text after them, by code units.
struct ProtocolLess
{
    bool operator()(const std::wstring& left, const std::wstring& right) const
    {
        const auto rank = [](const std::wstring& text) {
            channel::SchemeProtocol protocol;
            return channel::SchemeProtocolFromName(text, protocol) ? static_cast<int>(protocol) : 4;
        };
        const int l = rank(left);
        const int r = rank(right);
        return l != r ? l < r : NameLess(left, right);
    }
};

struct NameOrder
{
    bool operator()(const std::wstring& left, const std::wstring& right) const
    {
        return NameLess(left, right);
    }
};

} // namespace

struct CSchemeGridModel::Node
{
    enum class Kind
    {
        Root,
        Sender,
        Receiver,
        Protocol,
        Channel,
    };
    Kind kind = Kind::Root;
    QString label; // group rows
    int row = -1;  // channel rows: the channel's position in the list
    Node* parent = nullptr;
    int position = 0; // among the parent's children
    std::vector<std::unique_ptr<Node>> children;

    Node* Add(Kind childKind)
    {
        auto child = std::make_unique<Node>();
        child->kind = childKind;
        child->parent = this;
        child->position = static_cast<int>(children.size());
        children.push_back(std::move(child));
        return children.back().get();
    }
};

CSchemeGridModel::CSchemeGridModel(QObject* parent)
    : QAbstractItemModel(parent), m_root(std::make_unique<Node>())
{}

CSchemeGridModel::~CSchemeGridModel() = default;

void CSchemeGridModel::SetChannels(std::vector<ChannelEntry> channels)
{
    beginResetModel();
    m_channels = std::move(channels);
    Rebuild();
    endResetModel();
}

int CSchemeGridModel::AddChannel(const ChannelEntry& channel)
{
    beginResetModel();
    m_channels.push_back(channel);
    Rebuild();
    endResetModel();
    return static_cast<int>(m_channels.size()) - 1;
}

void CSchemeGridModel::RemoveChannel(int row)
{
    if (row < 0 || row >= static_cast<int>(m_channels.size()))
        return;
    beginResetModel();
    m_channels.erase(m_channels.begin() + row);
    Rebuild();
    endResetModel();
}

void CSchemeGridModel::ReplaceChannel(int row, const ChannelEntry& channel)
{
    if (row < 0 || row >= static_cast<int>(m_channels.size()))
        return;
    beginResetModel();
    m_channels[static_cast<std::size_t>(row)] = channel;
    Rebuild();
    endResetModel();
}

void CSchemeGridModel::SetGrouped(bool grouped)
{
    if (grouped == m_grouped)
        return;
    beginResetModel();
    m_grouped = grouped;
    Rebuild();
    endResetModel();
}

CSchemeGridModel::Field CSchemeGridModel::FieldOfColumn(int column) const
{
    const int c = std::clamp(column, 0, ColumnCount - 1);
    return m_grouped ? kGroupedFields[c] : kFlatFields[c];
}

int CSchemeGridModel::ColumnOf(Field field) const
{
    for (int c = 0; c < ColumnCount; ++c)
        if (FieldOfColumn(c) == field)
            return c;
    return 0;
}

void CSchemeGridModel::Rebuild()
{
    m_root = std::make_unique<Node>();
    m_channelNodes.assign(m_channels.size(), nullptr);
    if (!m_grouped) {
        for (std::size_t i = 0; i < m_channels.size(); ++i) {
            Node* node = m_root->Add(Node::Kind::Channel);
            node->row = static_cast<int>(i);
            m_channelNodes[i] = node;
        }
        return;
    }
    // sender -> receiver -> protocol -> rows in list order
    std::map<
        std::wstring,
        std::map<std::wstring, std::map<std::wstring, std::vector<int>, ProtocolLess>, NameOrder>,
        NameOrder>
        tree;
    for (std::size_t i = 0; i < m_channels.size(); ++i) {
        const ChannelEntry& c = m_channels[i];
        tree[c.senderName][c.receiverName][c.protocol].push_back(static_cast<int>(i));
    }
    for (const auto& [sender, receivers] : tree) {
        Node* senderNode = m_root->Add(Node::Kind::Sender);
        senderNode->label =
            FieldCaption(Field::Sender) + QStringLiteral(": ") + QString::fromStdWString(sender);
        for (const auto& [receiver, protocols] : receivers) {
            Node* receiverNode = senderNode->Add(Node::Kind::Receiver);
            receiverNode->label = FieldCaption(Field::Receiver) + QStringLiteral(": ") +
                                  QString::fromStdWString(receiver);
            for (const auto& [protocol, rows] : protocols) {
                Node* protocolNode = receiverNode->Add(Node::Kind::Protocol);
                protocolNode->label = FieldCaption(Field::Protocol) + QStringLiteral(": ") +
                                      QString::fromStdWString(protocol);
                for (int row : rows) {
                    Node* node = protocolNode->Add(Node::Kind::Channel);
                    node->row = row;
                    m_channelNodes[static_cast<std::size_t>(row)] = node;
                }
            }
        }
    }
}

const CSchemeGridModel::Node* CSchemeGridModel::NodeOf(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this)
        return m_root.get();
    return static_cast<const Node*>(index.internalPointer());
}

std::optional<int> CSchemeGridModel::RowOf(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this)
        return std::nullopt;
    const Node* node = NodeOf(index);
    if (node->kind != Node::Kind::Channel)
        return std::nullopt;
    return node->row;
}

bool CSchemeGridModel::IsGroupRow(const QModelIndex& index) const
{
    return index.isValid() && index.model() == this && NodeOf(index)->kind != Node::Kind::Channel;
}

QModelIndex CSchemeGridModel::IndexOfRow(int row) const
{
    if (row < 0 || row >= static_cast<int>(m_channelNodes.size()))
        return {};
    const Node* node = m_channelNodes[static_cast<std::size_t>(row)];
    return createIndex(node->position, 0, const_cast<Node*>(node));
}

QModelIndex CSchemeGridModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column < 0 || column >= ColumnCount || row < 0)
        return {};
    if (parent.isValid() && parent.column() != 0)
        return {};
    const Node* node = NodeOf(parent);
    if (row >= static_cast<int>(node->children.size()))
        return {};
    return createIndex(row, column, node->children[static_cast<std::size_t>(row)].get());
}

QModelIndex CSchemeGridModel::parent(const QModelIndex& child) const
{
    if (!child.isValid())
        return {};
    const Node* parentNode = NodeOf(child)->parent;
    if (!parentNode || parentNode == m_root.get())
        return {};
    return createIndex(parentNode->position, 0, const_cast<Node*>(parentNode));
}

int CSchemeGridModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    return static_cast<int>(NodeOf(parent)->children.size());
}

int CSchemeGridModel::columnCount(const QModelIndex&) const
{
    return ColumnCount;
}

QString CSchemeGridModel::ChannelText(const ChannelEntry& channel, Field field) const
{
    switch (field) {
    case Field::Sender: return QString::fromStdWString(channel.senderName);
    case Field::Receiver: return QString::fromStdWString(channel.receiverName);
    case Field::Protocol: return QString::fromStdWString(channel.protocol);
    case Field::SenderPort: return QString::number(channel.senderPort);
    case Field::ReceiverPort: return QString::number(channel.receiverPort);
    }
    return {};
}

QVariant CSchemeGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.model() != this)
        return {};
    const Node* node = NodeOf(index);
    const Field field = FieldOfColumn(index.column());
    if (node->kind != Node::Kind::Channel) {
        // The label sits in column 0; the view spans it over the whole row.
        if (index.column() != 0)
            return {};
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole || role == Qt::AccessibleTextRole)
            return node->label;
        return {};
    }
    const ChannelEntry& channel = m_channels[static_cast<std::size_t>(node->row)];
    switch (role) {
    case Qt::DisplayRole: return ChannelText(channel, field);
    case Qt::AccessibleTextRole:
        return FieldCaption(field) + QStringLiteral(" ") + ChannelText(channel, field);
    case Qt::TextAlignmentRole:
        // Grouped, the ports are the first two columns and the second one runs
        // to the edge: "from" leans right and "to" left, so a pair reads together.
        if (field == Field::SenderPort)
            return (Qt::AlignRight | Qt::AlignVCenter).toInt();
        if (field == Field::ReceiverPort)
            return ((m_grouped ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter).toInt();
        return {};
    default: return {};
    }
}

QVariant CSchemeGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return FieldCaption(FieldOfColumn(section));
    return {};
}

Qt::ItemFlags CSchemeGridModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (!IsGroupRow(index))
        result |= Qt::ItemNeverHasChildren;
    return result;
}

} // namespace dialogs
