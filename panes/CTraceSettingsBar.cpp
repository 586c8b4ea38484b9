#include "panes/CTraceSettingsBar.h"

#include "panes/CClampedSpinBox.h"
#include "panes/SettingsForm.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace panes {

CTraceSettingsBar::CTraceSettingsBar(QWidget* parent)
    : QWidget(parent), m_size(new CClampedSpinBox(1, 65500, 32, this)),
      m_timeOut(new CClampedSpinBox(200, 5000, 500, this)),
      m_interval(new CClampedSpinBox(200, 60000, 5000, this)),
      m_steps(new CClampedSpinBox(1, 255, 30, this)),
      m_apply(new QPushButton(QStringLiteral("Применить"), this))
{
    setObjectName(QStringLiteral("TraceSettingsBar"));
    setAccessibleName(QStringLiteral("Настройки маршрута"));
    auto* grid = new QGridLayout;
    grid->setColumnStretch(0, 1);
    AddSettingsRow(*grid, QStringLiteral("Размер пакета"), m_size, QStringLiteral("байт"));
    AddSettingsRow(*grid, QStringLiteral("Тайм-аут"), m_timeOut, QStringLiteral("мс"));
    AddSettingsRow(*grid, QStringLiteral("Интервал"), m_interval, QStringLiteral("мс"));
    AddSettingsRow(*grid, QStringLiteral("Шаги"), m_steps);
    m_apply->setAccessibleName(m_apply->text());
    connect(m_apply, &QPushButton::clicked, this, &CTraceSettingsBar::applyRequested);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_apply);
    layout->addLayout(buttons);
    layout->addStretch(1);
}

diag::RouteSettings CTraceSettingsBar::ReadSettings()
{
    diag::RouteSettings settings;
    settings.Size = static_cast<std::uint16_t>(m_size->ReadBack());
    settings.TimeOut = static_cast<std::uint32_t>(m_timeOut->ReadBack());
    settings.Interval = static_cast<std::uint32_t>(m_interval->ReadBack());
    // Read through 16 bits and kept in 8, as the up-down's position is.
    settings.Steps = static_cast<std::uint8_t>(static_cast<std::uint16_t>(m_steps->ReadBack()));
    return settings;
}

} // namespace panes
