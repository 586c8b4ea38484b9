#include "dialogs/CAddChanelDlg.h"

#include "dialogs/CNameFieldValidator.h"
#include "dialogs/CQtPrompt.h"
#include "dialogs/DialogLook.h"
#include "dialogs/IPrompt.h"
#include "ferrox/strings/Strings.h"

#include <QComboBox>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace dialogs {

namespace {

QString NameHint()
{
    return QStringLiteral("Новое имя: не более %1 символов").arg(CAddChanelDlg::MaxNameLength);
}

QLineEdit* MakePortField(QWidget* parent, const QString& accessibleName)
{
    auto* field = new QLineEdit(parent);
    field->setMaxLength(CAddChanelDlg::MaxPortDigits);
    field->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,%1}").arg(CAddChanelDlg::MaxPortDigits)),
        field));
    field->setPlaceholderText(QStringLiteral("1–65535"));
    field->setToolTip(QStringLiteral("Номер порта от 1 до 65535 (для IP — номер протокола)"));
    field->setAccessibleName(accessibleName);
    return field;
}

QLabel* MakeHint(QWidget* parent)
{
    auto* hint = new QLabel(NameHint(), parent);
    QFont font = hint->font();
    font.setPointSizeF(font.pointSizeF() * 0.9);
    hint->setFont(font);
    hint->setWordWrap(true);
    return hint;
}

} // namespace

CAddChanelDlg::CAddChanelDlg(IPrompt* prompt, QWidget* parent) : QDialog(parent), m_prompt(prompt)
{
    if (!m_prompt) {
        m_ownPrompt = std::make_unique<CQtPrompt>(this);
        m_prompt = m_ownPrompt.get();
    }
    setWindowTitle(QStringLiteral("Канал связи"));
    PrepareDialogWindow(*this);

    m_protocol = new QComboBox(this);
    m_protocol->setObjectName(QStringLiteral("protocol"));
    m_protocol->addItems({QStringLiteral("TCP"), QStringLiteral("UDP"), QStringLiteral("IP")});
    m_protocol->setCurrentIndex(-1);
    m_protocol->setAccessibleName(QStringLiteral("Протокол"));

    const auto makeNameBox = [this](NameBox& box, const QString& objectName,
                                    const QString& accessibleName) {
        box.combo = new QComboBox(this);
        box.combo->setObjectName(objectName);
        box.combo->setEditable(true);
        box.combo->setInsertPolicy(QComboBox::NoInsert); // names enter the list on "Применить"
        // Wide enough for the long names a scheme file may hold.
        box.combo->setMinimumContentsLength(18);
        box.combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        box.combo->setAccessibleName(accessibleName);
        box.combo->lineEdit()->setAccessibleName(accessibleName);
        box.combo->lineEdit()->setPlaceholderText(
            QStringLiteral("до %1 символов").arg(MaxNameLength));
        if (QCompleter* completer = box.combo->completer())
            completer->setCaseSensitivity(Qt::CaseSensitive); // names compare exactly
        box.combo->setValidator(new CNameFieldValidator(
            box.combo->lineEdit(), MaxNameLength,
            [this, &box](const QString& text) { return IsKnown(box, text); }));
        box.hint = MakeHint(this);
        box.hint->setObjectName(objectName + QStringLiteral("Hint"));
        connect(box.combo, &QComboBox::editTextChanged, this, [this, &box] { UpdateHint(box); });
    };
    makeNameBox(m_sender, QStringLiteral("senderName"), QStringLiteral("Имя отправителя"));
    makeNameBox(m_receiver, QStringLiteral("receiverName"), QStringLiteral("Имя получателя"));
    m_senderPort = MakePortField(this, QStringLiteral("Порт отправителя"));
    m_senderPort->setObjectName(QStringLiteral("senderPort"));
    m_receiverPort = MakePortField(this, QStringLiteral("Порт получателя"));
    m_receiverPort->setObjectName(QStringLiteral("receiverPort"));

    auto* protocolRow = new QFormLayout;
    auto* protocolLabel = new QLabel(QStringLiteral("&Протокол:"), this);
    protocolLabel->setBuddy(m_protocol);
    protocolRow->addRow(protocolLabel, m_protocol);

    const auto makeGroup = [this](const QString& title, NameBox& box, const QString& nameLabel,
                                  const QString& portLabel, QLineEdit* port) {
        auto* group = new QGroupBox(title, this);
        auto* form = new QFormLayout(group);
        auto* name = new QLabel(nameLabel, group);
        name->setBuddy(box.combo);
        form->addRow(name, box.combo);
        form->addRow(QString(), box.hint);
        auto* portCaption = new QLabel(portLabel, group);
        portCaption->setBuddy(port);
        form->addRow(portCaption, port);
        return group;
    };
    QGroupBox* senderGroup =
        makeGroup(QStringLiteral("Отправитель"), m_sender, QStringLiteral("&Имя отправителя:"),
                  QStringLiteral("По&рт:"), m_senderPort);
    QGroupBox* receiverGroup =
        makeGroup(QStringLiteral("Получатель"), m_receiver, QStringLiteral("Имя по&лучателя:"),
                  QStringLiteral("Пор&т:"), m_receiverPort);

    auto* buttons = new QDialogButtonBox(this);
    m_apply = buttons->addButton(QStringLiteral("Применить"), QDialogButtonBox::AcceptRole);
    m_apply->setObjectName(QStringLiteral("apply"));
    m_apply->setAccessibleName(QStringLiteral("Применить"));
    m_apply->setDefault(true);
    m_cancel = buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    m_cancel->setObjectName(QStringLiteral("cancel"));
    m_cancel->setAccessibleName(QStringLiteral("Отмена"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CAddChanelDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CAddChanelDlg::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(protocolRow);
    layout->addWidget(senderGroup);
    layout->addWidget(receiverGroup);
    layout->addStretch();
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetMinimumSize);

    setTabOrder(m_protocol, m_sender.combo);
    setTabOrder(m_sender.combo, m_senderPort);
    setTabOrder(m_senderPort, m_receiver.combo);
    setTabOrder(m_receiver.combo, m_receiverPort);
    setTabOrder(m_receiverPort, m_apply);
    setTabOrder(m_apply, m_cancel);
    m_protocol->setFocus();
}

CAddChanelDlg::~CAddChanelDlg() = default;

void CAddChanelDlg::AddSenderName(const std::wstring& name)
{
    AddName(m_sender, QString::fromStdWString(name));
}

void CAddChanelDlg::AddReceiverName(const std::wstring& name)
{
    AddName(m_receiver, QString::fromStdWString(name));
}

void CAddChanelDlg::AddName(NameBox& box, const QString& name)
{
    if (!box.names.try_emplace(name.toStdU16String(), 0).second)
        return;
    // Refill in code-unit order, keeping what the user sees in the field.
    const QString text = box.combo->currentText();
    const QSignalBlocker blocker(box.combo);
    box.combo->clear();
    int position = 0;
    for (auto& [key, index] : box.names) {
        index = position++;
        box.combo->addItem(QString::fromStdU16String(key));
    }
    box.combo->setCurrentIndex(-1);
    box.combo->setEditText(text);
    UpdateHint(box);
}

bool CAddChanelDlg::IsKnown(const NameBox& box, const QString& name) const
{
    return box.names.count(name.toStdU16String()) != 0;
}

QString CAddChanelDlg::StoredName(const NameBox& box, const QString& text) const
{
    return IsKnown(box, text) ? text : text.left(MaxNameLength);
}

void CAddChanelDlg::UpdateHint(const NameBox& box)
{
    const QString text = box.combo->currentText();
    const QString stored = StoredName(box, text);
    box.hint->setText(stored == text ? NameHint()
                                     : QStringLiteral("Будет сохранено: «%1»").arg(stored));
}

void CAddChanelDlg::SetEntry(const ChannelEntry& entry)
{
    m_entry = entry;
    if (entry.protocol.empty()) {
        m_protocol->setCurrentIndex(-1);
        m_sender.combo->setEditText(QString());
        m_receiver.combo->setEditText(QString());
        m_senderPort->clear();
        m_receiverPort->clear();
        return;
    }
    m_protocol->setCurrentIndex(m_protocol->findText(QString::fromStdWString(entry.protocol),
                                                     Qt::MatchExactly | Qt::MatchCaseSensitive));
    const auto selectName = [this](NameBox& box, const std::wstring& name) {
        const QString text = QString::fromStdWString(name);
        const auto it = box.names.find(text.toStdU16String());
        if (it != box.names.end())
            box.combo->setCurrentIndex(it->second);
        else
            box.combo->setEditText(text);
    };
    selectName(m_sender, entry.senderName);
    selectName(m_receiver, entry.receiverName);
    m_senderPort->setText(QString::number(entry.senderPort));
    m_receiverPort->setText(QString::number(entry.receiverPort));
}

void CAddChanelDlg::EnterName(NameBox& box, const QString& name)
{
    if (name.trimmed().isEmpty())
        return;
    const auto [it, inserted] = box.names.try_emplace(name.toStdU16String(), box.combo->count());
    if (inserted)
        box.combo->addItem(name);
    box.combo->setCurrentIndex(it->second);
}

int CAddChanelDlg::PortValue(const QLineEdit* field)
{
    return wtoi(field->text().left(MaxPortDigits).toStdWString());
}

void CAddChanelDlg::Refuse(const QString& message)
{
    m_prompt->Tell(message, PromptIcon::None);
}

void CAddChanelDlg::accept()
{
    const QString sender = StoredName(m_sender, m_sender.combo->currentText());
    const QString receiver = StoredName(m_receiver, m_receiver.combo->currentText());
    EnterName(m_sender, sender);
    EnterName(m_receiver, receiver);
    const int senderPort = PortValue(m_senderPort);
    const int receiverPort = PortValue(m_receiverPort);
    const QString protocol =
        m_protocol->currentIndex() >= 0 ? m_protocol->currentText() : QString();

    if (protocol.isEmpty())
        return Refuse(QStringLiteral("Не указан протокол"));
    if (sender.trimmed().isEmpty())
        return Refuse(QStringLiteral("Не указан отправитель"));
    if (receiver.trimmed().isEmpty())
        return Refuse(QStringLiteral("Не указан получатель"));
    if (senderPort < 1 || senderPort > 65535)
        return Refuse(QStringLiteral("Неправильно указан порт отправителя"));
    if (receiverPort < 1 || receiverPort > 65535)
        return Refuse(QStringLiteral("Неправильно указан порт получателя"));
    if (protocol == QStringLiteral("TCP") && senderPort != receiverPort)
        return Refuse(QStringLiteral("Неправильно указаны порты для протокола TCP"));
    if (protocol == QStringLiteral("UDP") && senderPort == receiverPort)
        return Refuse(QStringLiteral("Неправильно указаны порты для протокола UDP"));
    if (protocol == QStringLiteral("IP") && senderPort != receiverPort)
        return Refuse(QStringLiteral("Неправильно указаны порты для протокола IP"));

    m_entry.protocol = protocol.toStdWString();
    m_entry.senderName = sender.toStdWString();
    m_entry.receiverName = receiver.toStdWString();
    m_entry.senderPort = static_cast<std::uint16_t>(senderPort);
    m_entry.receiverPort = static_cast<std::uint16_t>(receiverPort);
    QDialog::accept();
}

void CAddChanelDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CentreOnParent(*this);
}

} // namespace dialogs
