#include "panes/CPingSettingsBar.h"

#include "panes/CClampedSpinBox.h"
#include "panes/CSourceAddressEdit.h"
#include "panes/SettingsForm.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace panes {

CPingSettingsBar::CPingSettingsBar(bool extendedEchoAvailable, const QString& firstLocalAddress,
                                   QWidget* parent)
    : QWidget(parent), m_recordLimit(new CClampedSpinBox(1, 100000, 1000, this)),
      m_size(new CClampedSpinBox(1, 65500, 32, this)),
      m_ttl(new CClampedSpinBox(1, 255, 200, this)),
      m_interval(new CClampedSpinBox(200, 60000, 1000, this)),
      m_timeOut(new CClampedSpinBox(200, 5000, 500, this)),
      m_useSource(new QCheckBox(QStringLiteral("Использовать адрес источника"), this)),
      m_source(new CSourceAddressEdit(this)),
      m_apply(new QPushButton(QStringLiteral("Применить"), this))
{
    setObjectName(QStringLiteral("PingSettingsBar"));
    setAccessibleName(QStringLiteral("Настройки эхо-запроса"));
    auto* grid = new QGridLayout;
    grid->setColumnStretch(0, 1);
    AddSettingsRow(*grid, QStringLiteral("Количество записей в окне События"), m_recordLimit);
    AddSettingsRow(*grid, QStringLiteral("Размер пакета"), m_size, QStringLiteral("байт"));
    AddSettingsRow(*grid, QStringLiteral("TTL"), m_ttl);
    AddSettingsRow(*grid, QStringLiteral("Интервал"), m_interval, QStringLiteral("мс"));
    AddSettingsRow(*grid, QStringLiteral("Тайм-аут"), m_timeOut, QStringLiteral("мс"));

    m_useSource->setAccessibleName(m_useSource->text());
    m_useSource->setChecked(extendedEchoAvailable);
    m_useSource->setEnabled(extendedEchoAvailable);
    m_source->setText(firstLocalAddress);
    m_source->setEnabled(m_useSource->isChecked());
    connect(m_useSource, &QCheckBox::toggled, m_source, &QWidget::setEnabled);
    m_apply->setAccessibleName(m_apply->text());
    connect(m_apply, &QPushButton::clicked, this, &CPingSettingsBar::applyRequested);

    // One grid, so the address lines up with the numbers above it.
    grid->addWidget(m_useSource, grid->rowCount(), 0, 1, 3);
    AddSettingsRow(*grid, QStringLiteral("Адрес источника"), m_source);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_apply);
    layout->addLayout(buttons);
    layout->addStretch(1);
}

diag::EchoSettings CPingSettingsBar::ReadSettings()
{
    diag::EchoSettings settings;
    settings.RecordLimit = static_cast<std::uint32_t>(m_recordLimit->ReadBack());
    settings.Size = static_cast<std::uint16_t>(m_size->ReadBack());
    // Read through 16 bits and kept in 8, as the up-down's position is.
    settings.Ttl = static_cast<std::uint8_t>(static_cast<std::uint16_t>(m_ttl->ReadBack()));
    settings.Interval = static_cast<std::uint32_t>(m_interval->ReadBack());
    settings.TimeOut = static_cast<std::uint32_t>(m_timeOut->ReadBack());
    if (m_useSource->isChecked())
        settings.Source = m_source->AddressText().toStdString();
    return settings;
}

} // namespace panes
