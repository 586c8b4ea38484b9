#include "dialogs/COptionsDlg.h"

#include "core/CAppSettings.h"
#include "dialogs/DialogLook.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace dialogs {

std::optional<channel::ProbeOptions> COptionsDlg::Edit(QWidget* parent,
                                                       const channel::ProbeOptions& current)
{
    COptionsDlg dialog(current, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Options();
}

channel::ProbeOptions COptionsDlg::CurrentOf(const core::CAppSettings& settings)
{
    channel::ProbeOptions options;
    options.timeOut = settings.TimeOut();
    options.timeSendDelay = settings.TimeSendDelay();
    options.sendDataSize = settings.SendDataSize();
    options.maxSendCount = settings.MaxSendCount();
    return options;
}

void COptionsDlg::Apply(core::CAppSettings& settings, const channel::ProbeOptions& options)
{
    settings.SetOptions(options.timeOut, options.timeSendDelay, options.sendDataSize,
                        options.maxSendCount);
}

COptionsDlg::COptionsDlg(const channel::ProbeOptions& current, QWidget* parent)
    : QDialog(parent), m_options(current)
{
    setWindowTitle(QStringLiteral("Настройки"));
    PrepareDialogWindow(*this);

    auto* group = new QGroupBox(QStringLiteral("Настройки сети"), this);
    auto* form = new QFormLayout(group);
    const auto addField = [&](const QString& label, const QString& objectName, int minimum,
                              int maximum, int value) {
        auto* box = new QSpinBox(group);
        box->setObjectName(objectName);
        box->setRange(minimum, maximum);
        box->setValue(value);
        // A number typed below the minimum becomes the minimum, not the old value.
        box->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
        box->setAccessibleName(QString(label).remove(QLatin1Char('&')));
        box->setToolTip(QStringLiteral("От %1 до %2").arg(minimum).arg(maximum));
        auto* caption = new QLabel(label, group);
        caption->setBuddy(box);
        form->addRow(caption, box);
        return box;
    };
    m_timeOut = addField(QStringLiteral("&Тайм-аут (мс)"), QStringLiteral("timeOut"), MinTimeOut,
                         MaxTimeOut, current.timeOut);
    m_sendCount = addField(QStringLiteral("&Количество попыток"), QStringLiteral("maxSendCount"),
                           MinSendCount, MaxSendCount, current.maxSendCount);
    m_dataSize =
        addField(QStringLiteral("&Размер сообщения (байт)"), QStringLiteral("sendDataSize"),
                 MinDataSize, MaxDataSize, current.sendDataSize);
    m_sendDelay =
        addField(QStringLiteral("&Интервал между попытками (с)"), QStringLiteral("timeSendDelay"),
                 MinSendDelay, MaxSendDelay, current.timeSendDelay);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* apply =
        buttons->addButton(QStringLiteral("Применить"), QDialogButtonBox::AcceptRole);
    apply->setObjectName(QStringLiteral("apply"));
    apply->setAccessibleName(QStringLiteral("Применить"));
    apply->setDefault(true);
    QPushButton* cancel =
        buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancel"));
    cancel->setAccessibleName(QStringLiteral("Отмена"));
    connect(buttons, &QDialogButtonBox::accepted, this, &COptionsDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &COptionsDlg::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_timeOut->setFocus();
}

void COptionsDlg::accept()
{
    // Text typed into a box but not yet committed (no Enter, no focus change)
    // counts as entered.
    for (QSpinBox* box : {m_timeOut, m_sendCount, m_dataSize, m_sendDelay})
        box->interpretText();
    m_options.timeOut = m_timeOut->value();
    m_options.maxSendCount = m_sendCount->value();
    m_options.sendDataSize = m_dataSize->value();
    m_options.timeSendDelay = m_sendDelay->value();
    QDialog::accept();
}

void COptionsDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CentreOnParent(*this);
}

} // namespace dialogs
