#include "dialogs/CSchemaEditorDlg.h"

#include "dialogs/CAddChanelDlg.h"
#include "dialogs/CSchemeGridModel.h"
#include "dialogs/DialogLook.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

namespace dialogs {

namespace {

QPushButton* MakeButton(QWidget* parent, const QString& text, const QString& objectName)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    button->setAccessibleName(QString(text).remove(QLatin1Char('&')));
    return button;
}

} // namespace

std::optional<std::vector<channel::SchemeGroup>>
CSchemaEditorDlg::Edit(QWidget* parent, std::vector<channel::SchemeGroup> groups)
{
    CSchemaEditorDlg dialog(std::move(groups), nullptr, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Groups();
}

std::optional<std::vector<channel::SchemeGroup>>
CSchemaEditorDlg::EditWithPrompt(IPrompt& prompt, QWidget* parent,
                                 std::vector<channel::SchemeGroup> groups)
{
    CSchemaEditorDlg dialog(std::move(groups), &prompt, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Groups();
}

CSchemaEditorDlg::CSchemaEditorDlg(std::vector<channel::SchemeGroup> groups, IPrompt* prompt,
                                   QWidget* parent)
    : QDialog(parent), m_groups(std::move(groups)), m_prompt(prompt)
{
    setWindowTitle(QStringLiteral("Редактор схемы"));
    PrepareDialogWindow(*this);
    setSizeGripEnabled(true);

    m_groupToggle = new QToolButton(this);
    m_groupToggle->setObjectName(QStringLiteral("groupToggle"));
    m_groupToggle->setText(QStringLiteral("&Группировать каналы связи"));
    m_groupToggle->setToolTip(QStringLiteral("Группировать каналы связи"));
    m_groupToggle->setAccessibleName(QStringLiteral("Группировать каналы связи"));
    m_groupToggle->setIcon(
        DialogPicture(QStringLiteral(":/dialogs/group.svg"), QSize(16, 16), this));
    m_groupToggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_groupToggle->setCheckable(true);
    m_groupToggle->setAutoRaise(true);
    m_groupToggle->setFocusPolicy(Qt::StrongFocus); // tool buttons skip the tab chain otherwise

    m_model = new CSchemeGridModel(this);
    m_grid = new QTreeView(this);
    m_grid->setObjectName(QStringLiteral("grid"));
    m_grid->setAccessibleName(QStringLiteral("Каналы связи"));
    m_grid->setUniformRowHeights(true);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setAllColumnsShowFocus(true);
    m_grid->setAlternatingRowColors(true);
    m_grid->header()->setSectionsMovable(false);
    m_grid->header()->setStretchLastSection(true);
    m_grid->setModel(m_model);
    m_grid->installEventFilter(this);
    // After the view's own handling of the reset, which collapses everything.
    connect(m_model, &QAbstractItemModel::modelReset, this, &CSchemaEditorDlg::LayOutGrid);
    connect(m_grid->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &CSchemaEditorDlg::UpdateButtons);
    connect(m_grid, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
        if (m_model->IsGroupRow(index))
            return; // the view expands or collapses it
        m_grid->setCurrentIndex(index);
        EditChannel();
    });

    m_add = MakeButton(this, QStringLiteral("&Добавить"), QStringLiteral("add"));
    m_delete = MakeButton(this, QStringLiteral("&Удалить"), QStringLiteral("delete"));
    m_edit = MakeButton(this, QStringLiteral("&Редактировать"), QStringLiteral("edit"));
    m_apply = MakeButton(this, QStringLiteral("&Применить"), QStringLiteral("apply"));
    m_cancel = MakeButton(this, QStringLiteral("Отмена"), QStringLiteral("cancel"));
    m_apply->setDefault(true);
    connect(m_add, &QPushButton::clicked, this, &CSchemaEditorDlg::AddChannel);
    connect(m_delete, &QPushButton::clicked, this, &CSchemaEditorDlg::DeleteChannel);
    connect(m_edit, &QPushButton::clicked, this, &CSchemaEditorDlg::EditChannel);
    connect(m_apply, &QPushButton::clicked, this, &CSchemaEditorDlg::accept);
    connect(m_cancel, &QPushButton::clicked, this, &CSchemaEditorDlg::reject);
    connect(m_groupToggle, &QToolButton::toggled, this, &CSchemaEditorDlg::SetGrouped);

    // Grid and its toggle on the left, growing; the commands on the right;
    // "Применить" under the grid's right edge and "Отмена" under the commands.
    auto* layout = new QGridLayout(this);
    auto* toolRow = new QHBoxLayout;
    toolRow->addWidget(m_groupToggle);
    toolRow->addStretch();
    layout->addLayout(toolRow, 0, 0);
    layout->addWidget(m_grid, 1, 0);
    auto* commands = new QVBoxLayout;
    commands->addWidget(m_add);
    commands->addWidget(m_delete);
    commands->addWidget(m_edit);
    commands->addStretch();
    layout->addLayout(commands, 1, 1);
    layout->addWidget(m_apply, 2, 0, Qt::AlignRight);
    layout->addWidget(m_cancel, 2, 1);
    layout->setColumnStretch(0, 1);
    layout->setRowStretch(1, 1);

    setTabOrder(m_groupToggle, m_grid);
    setTabOrder(m_grid, m_add);
    setTabOrder(m_add, m_delete);
    setTabOrder(m_delete, m_edit);
    setTabOrder(m_edit, m_apply);
    setTabOrder(m_apply, m_cancel);

    m_model->SetChannels(ChannelEntriesOf(m_groups));
    m_groupToggle->setChecked(true); // grouped by sender, receiver and protocol
    LayOutGrid();
    resize(620, 420);
    setMinimumSize(480, 320);
    m_grid->setFocus();
}

CSchemaEditorDlg::~CSchemaEditorDlg() = default;

bool CSchemaEditorDlg::IsGrouped() const
{
    return m_model->IsGrouped();
}

void CSchemaEditorDlg::SetGrouped(bool grouped)
{
    if (grouped == m_model->IsGrouped())
        return;
    const std::optional<int> current = CurrentRow();
    m_model->SetGrouped(grouped);
    if (m_groupToggle->isChecked() != grouped)
        m_groupToggle->setChecked(grouped);
    SelectRow(current);
}

void CSchemaEditorDlg::LayOutGrid()
{
    const bool grouped = m_model->IsGrouped();
    m_grid->setRootIsDecorated(grouped);
    for (int column = 0; column < CSchemeGridModel::ColumnCount; ++column) {
        const bool hide =
            grouped && CSchemeGridModel::IsGroupingField(m_model->FieldOfColumn(column));
        m_grid->setColumnHidden(column, hide);
    }
    if (grouped) {
        // Group labels span the row; the view keeps spans by index, so a reset
        // drops them.
        const std::function<void(const QModelIndex&)> spanGroups = [&](const QModelIndex& parent) {
            for (int row = 0; row < m_model->rowCount(parent); ++row) {
                const QModelIndex child = m_model->index(row, 0, parent);
                if (m_model->IsGroupRow(child)) {
                    m_grid->setFirstColumnSpanned(row, parent, true);
                    spanGroups(child);
                }
            }
        };
        spanGroups(QModelIndex());
        m_grid->expandAll();
        // Column 0 holds the port of a channel row, indented under the root
        // decoration and three group levels; its width must not follow the
        // spanned labels.
        const QFontMetrics metrics(m_grid->font());
        const int portWidth = metrics.horizontalAdvance(QStringLiteral("65535")) + 24;
        QHeaderView* header = m_grid->header();
        header->resizeSection(
            0, std::max(header->sectionSizeHint(0), portWidth + 4 * m_grid->indentation()));
        header->resizeSection(1, std::max(header->sectionSizeHint(1), portWidth));
    } else {
        for (int column = 0; column < CSchemeGridModel::ColumnCount; ++column)
            m_grid->resizeColumnToContents(column);
    }
    UpdateButtons();
}

std::optional<int> CSchemaEditorDlg::CurrentRow() const
{
    return m_model->RowOf(m_grid->currentIndex());
}

void CSchemaEditorDlg::SelectRow(std::optional<int> row)
{
    const QModelIndex index = row ? m_model->IndexOfRow(*row) : QModelIndex();
    if (!index.isValid()) {
        m_grid->selectionModel()->clearSelection();
        UpdateButtons();
        return;
    }
    m_grid->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                         QItemSelectionModel::Rows);
    m_grid->scrollTo(index);
    UpdateButtons();
}

void CSchemaEditorDlg::UpdateButtons()
{
    const bool channel = CurrentRow().has_value();
    m_delete->setEnabled(channel);
    m_edit->setEnabled(channel);
}

void CSchemaEditorDlg::CollectGrid()
{
    m_groups = GroupsOfChannels(m_model->Channels());
}

std::optional<ChannelEntry> CSchemaEditorDlg::RunChannelDialog(const ChannelEntry* preset)
{
    CAddChanelDlg dialog(m_prompt, this);
    for (const channel::SchemeGroup& group : m_groups) {
        dialog.AddSenderName(group.senderName);
        dialog.AddReceiverName(group.receiverName);
    }
    if (preset)
        dialog.SetEntry(*preset);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Entry();
}

void CSchemaEditorDlg::AddChannel()
{
    const std::optional<int> remembered = CurrentRow();
    CollectGrid();
    if (const std::optional<ChannelEntry> entry = RunChannelDialog(nullptr))
        m_model->AddChannel(*entry);
    SelectRow(remembered);
}

void CSchemaEditorDlg::DeleteChannel()
{
    const std::optional<int> row = CurrentRow();
    if (!row)
        return; // nothing selected, or a group row
    m_model->RemoveChannel(*row);
    // The next channel takes the place, so the key can be pressed again.
    const int count = static_cast<int>(m_model->Channels().size());
    SelectRow(count == 0 ? std::nullopt : std::optional<int>(std::min(*row, count - 1)));
}

void CSchemaEditorDlg::EditChannel()
{
    const std::optional<int> row = CurrentRow();
    if (!row)
        return;
    CollectGrid();
    const ChannelEntry preset = m_model->Channels()[static_cast<std::size_t>(*row)];
    if (const std::optional<ChannelEntry> entry = RunChannelDialog(&preset))
        m_model->ReplaceChannel(*row, *entry);
    SelectRow(row);
}

void CSchemaEditorDlg::accept()
{
    CollectGrid();
    QDialog::accept();
}

void CSchemaEditorDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CentreOnParent(*this);
}

bool CSchemaEditorDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_grid && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QModelIndex current = m_grid->currentIndex();
        switch (key->key()) {
        case Qt::Key_Delete: DeleteChannel(); return true;
        case Qt::Key_F2: EditChannel(); return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // The grid's own handling would also press the dialog's default
            // button; here Enter opens the channel, or folds its group.
            if (m_model->IsGroupRow(current))
                m_grid->setExpanded(current.siblingAtColumn(0), !m_grid->isExpanded(current));
            else
                EditChannel();
            return true;
        default: break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace dialogs
