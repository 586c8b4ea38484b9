#include "dialogs/CFilterDlg.h"

#include "channel/EventCodes.h"
#include "events/EventText.h"

#include <QApplication>
#include <QGridLayout>
#include <QStyle>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace dialogs {

namespace {

// The status and protocol items, in item order, with their values.
struct ValueItem
{
    const char* text;
    std::int32_t value;
};
constexpr ValueItem kStatusItems[] = {
    {"Информация", channel::STATUS_INFORMATION},
    {"Предупреждение", channel::STATUS_WARNING},
    {"Ошибка", channel::STATUS_ERROR},
};
constexpr ValueItem kProtocolItems[] = {{"TCP", 1}, {"UDP", 2}, {"IP", 3}};
// Description items are the codes from 1 on: code = position + 1.
constexpr int kFirstDescriptionCode = 1;
// The statuses, protocols and groups show this many items before they scroll.
constexpr int kShortListRows = 6;

QString FromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

template <class T>
bool Contains(const std::vector<T>& list, const T& value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

} // namespace

CFilterDlg::CFilterDlg(const std::optional<events::FilterCriteria>& current,
                       std::vector<std::string> senders, std::vector<std::string> receivers,
                       std::vector<channel::SchemeGroup> groups, QWidget* parent)
    : QDialog(parent), m_criteria(current.value_or(events::FilterCriteria{})),
      m_senders(std::move(senders)), m_receivers(std::move(receivers)),
      m_groups(std::move(groups))
{
    setWindowTitle(QStringLiteral("Фильтр"));
    setWindowIcon(QApplication::windowIcon());
    setAccessibleName(QStringLiteral("Фильтр"));
    setModal(true);

    auto* heading = new QLabel(QStringLiteral("Параметры фильтрации отображаемых сообщений"), this);
    QFont headingFont = heading->font();
    headingFont.setBold(true);
    heading->setFont(headingFont);

    // Filled in the order status, protocol, description, senders, receivers,
    // port groups; laid out three lists to a row.
    auto* grid = new QGridLayout;
    const auto place = [&](CheckListId list, const QString& label, int row, int column) {
        auto* caption = new QLabel(label, this);
        QListWidget* widget = MakeList(list, label);
        caption->setBuddy(widget);
        grid->addWidget(caption, row * 2, column);
        grid->addWidget(widget, row * 2 + 1, column);
    };
    place(LIST_STATUSES, QStringLiteral("Статус"), 0, 0);
    place(LIST_PROTOCOLS, QStringLiteral("Протокол"), 0, 1);
    place(LIST_PORT_GROUPS, QStringLiteral("Группа портов"), 0, 2);
    place(LIST_DESCRIPTIONS, QStringLiteral("Описание"), 1, 0);
    place(LIST_SENDERS, QStringLiteral("Отправитель"), 1, 1);
    place(LIST_RECEIVERS, QStringLiteral("Получатель"), 1, 2);
    for (int column = 0; column < 3; ++column)
        grid->setColumnStretch(column, 1);
    grid->setRowStretch(3, 1);

    for (const ValueItem& item : kStatusItems)
        AddItem(LIST_STATUSES, QString::fromUtf8(item.text),
                Contains(m_criteria.statuses, item.value));
    for (const ValueItem& item : kProtocolItems)
        AddItem(LIST_PROTOCOLS, QString::fromUtf8(item.text),
                Contains(m_criteria.protocols, item.value));
    for (int code = kFirstDescriptionCode; code < channel::EVENT_CODE_COUNT; ++code)
        AddItem(LIST_DESCRIPTIONS, FromUtf8(events::DescriptionText(code)),
                Contains(m_criteria.descriptions, code));
    for (const std::string& sender : m_senders)
        AddItem(LIST_SENDERS, FromUtf8(sender), Contains(m_criteria.senders, sender));
    for (const std::string& receiver : m_receivers)
        AddItem(LIST_RECEIVERS,
                receiver.empty() ? QStringLiteral("Отсутствует") : FromUtf8(receiver),
                Contains(m_criteria.receivers, receiver));
    for (const channel::SchemeGroup& group : m_groups)
        AddItem(LIST_PORT_GROUPS,
                QString::fromStdWString(group.senderName) + QStringLiteral(" <-> ") +
                    QString::fromStdWString(group.receiverName),
                Contains(m_criteria.portGroups, group));

    // The short lists (statuses, protocols, groups) as high as a few items; the
    // descriptions, senders and receivers show all fourteen codes at once.
    const int rowHeight = std::max(m_lists[LIST_DESCRIPTIONS]->sizeHintForRow(0),
                                   fontMetrics().height());
    const int frame = 2 * m_lists[LIST_DESCRIPTIONS]->frameWidth() + 4;
    for (CheckListId list : {LIST_STATUSES, LIST_PROTOCOLS, LIST_PORT_GROUPS}) {
        const int rows = std::clamp(m_lists[list]->count(), 3, kShortListRows);
        m_lists[list]->setFixedHeight(rows * rowHeight + frame);
    }
    for (CheckListId list : {LIST_DESCRIPTIONS, LIST_SENDERS, LIST_RECEIVERS})
        m_lists[list]->setMinimumHeight((channel::EVENT_CODE_COUNT - 1) * rowHeight + frame);
    // Each list as wide as its widest item, so that no pair name is cut (names
    // are short: the width stays bounded).
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    for (QListWidget* widget : m_lists)
        widget->setMinimumWidth(std::clamp(widget->sizeHintForColumn(0) + frame + scrollBar, 160,
                                           fontMetrics().averageCharWidth() * 60));

    m_clear = new QPushButton(QStringLiteral("Очистить"), this);
    m_apply = new QPushButton(QStringLiteral("Применить"), this);
    m_cancel = new QPushButton(QStringLiteral("Отмена"), this);
    m_apply->setDefault(true);
    for (QPushButton* button : {m_clear, m_apply, m_cancel})
        button->setAccessibleName(button->text());
    connect(m_clear, &QPushButton::clicked, this, &CFilterDlg::ClearChecks);
    connect(m_apply, &QPushButton::clicked, this, &CFilterDlg::accept);
    connect(m_cancel, &QPushButton::clicked, this, &CFilterDlg::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_clear);
    buttons->addStretch(1);
    buttons->addWidget(m_apply);
    buttons->addWidget(m_cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addLayout(grid, 1);
    layout->addLayout(buttons);

    // Keyboard order follows the reading order of the lists, then the buttons.
    setTabOrder(m_lists[LIST_STATUSES], m_lists[LIST_PROTOCOLS]);
    setTabOrder(m_lists[LIST_PROTOCOLS], m_lists[LIST_PORT_GROUPS]);
    setTabOrder(m_lists[LIST_PORT_GROUPS], m_lists[LIST_DESCRIPTIONS]);
    setTabOrder(m_lists[LIST_DESCRIPTIONS], m_lists[LIST_SENDERS]);
    setTabOrder(m_lists[LIST_SENDERS], m_lists[LIST_RECEIVERS]);
    setTabOrder(m_lists[LIST_RECEIVERS], m_apply);
    setTabOrder(m_apply, m_cancel);
    setTabOrder(m_cancel, m_clear);
    m_lists[LIST_STATUSES]->setFocus();
    resize(sizeHint().expandedTo(QSize(640, 0)));
}

QListWidget* CFilterDlg::MakeList(CheckListId list, const QString& label)
{
    auto* widget = new QListWidget(this);
    widget->setAccessibleName(label);
    widget->setSelectionMode(QAbstractItemView::SingleSelection);
    widget->setUniformItemSizes(true);
    widget->setMinimumWidth(160);
    m_lists[list] = widget;
    return widget;
}

void CFilterDlg::AddItem(CheckListId list, const QString& text, bool checked)
{
    auto* item = new QListWidgetItem(text, m_lists[list]);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    // Space checks at once when the list gets the focus; nothing looks selected.
    if (m_lists[list]->count() == 1)
        m_lists[list]->setCurrentRow(0, QItemSelectionModel::NoUpdate);
}

std::vector<int> CFilterDlg::CheckedPositions(CheckListId list) const
{
    std::vector<int> positions;
    const QListWidget* widget = m_lists[list];
    for (int i = 0; i < widget->count(); ++i) {
        if (widget->item(i)->checkState() == Qt::Checked)
            positions.push_back(i);
    }
    return positions;
}

void CFilterDlg::accept()
{
    events::FilterCriteria criteria;
    for (int i : CheckedPositions(LIST_STATUSES))
        criteria.statuses.push_back(kStatusItems[i].value);
    for (int i : CheckedPositions(LIST_DESCRIPTIONS))
        criteria.descriptions.push_back(i + kFirstDescriptionCode);
    for (int i : CheckedPositions(LIST_PROTOCOLS))
        criteria.protocols.push_back(kProtocolItems[i].value);
    for (int i : CheckedPositions(LIST_SENDERS))
        criteria.senders.push_back(m_senders[static_cast<std::size_t>(i)]);
    for (int i : CheckedPositions(LIST_RECEIVERS))
        criteria.receivers.push_back(m_receivers[static_cast<std::size_t>(i)]);
    for (int i : CheckedPositions(LIST_PORT_GROUPS))
        criteria.portGroups.push_back(m_groups[static_cast<std::size_t>(i)]);
    m_criteria = std::move(criteria);
    QDialog::accept();
}

void CFilterDlg::ClearChecks()
{
    for (QListWidget* widget : m_lists) {
        for (int i = 0; i < widget->count(); ++i)
            widget->item(i)->setCheckState(Qt::Unchecked);
    }
}

} // namespace dialogs
