#include "app/CFrameStatusBar.h"

#include "channel/EventCodes.h"
#include "core/CAppLogic.h"

#include <QLabel>
#include <QTimer>

namespace app {

CFrameStatusBar::CFrameStatusBar(QWidget* parent)
    : QStatusBar(parent), m_servers(new QLabel(this)), m_checkLabel(new QLabel(this)),
      m_events(new QLabel(this)), m_timer(new QTimer(this))
{
    setObjectName(QStringLiteral("statusBar"));
    m_servers->setObjectName(QStringLiteral("serversStatus"));
    m_checkLabel->setObjectName(QStringLiteral("checkStatus"));
    m_events->setObjectName(QStringLiteral("eventsStatus"));
    m_servers->setAccessibleName(QStringLiteral("Порты"));
    m_checkLabel->setAccessibleName(QStringLiteral("Проверка"));
    m_events->setAccessibleName(QStringLiteral("События"));
    addWidget(m_servers);
    addWidget(m_checkLabel, 1);
    addPermanentWidget(m_events);
    m_timer->setSingleShot(true);
    m_timer->setInterval(100);
    connect(m_timer, &QTimer::timeout, this, &CFrameStatusBar::Refresh);
    Refresh();
}

void CFrameStatusBar::Schedule()
{
    if (!m_timer->isActive())
        m_timer->start();
}

void CFrameStatusBar::Refresh()
{
    int open = 0, busy = 0, rights = 0, total = 0;
    if (m_logic) {
        for (const core::ServerRow& row : m_logic->ServerRows()) {
            ++total;
            open += row.state == channel::EC_PORT_OPEN;
            busy += row.state == channel::EC_PORT_BUSY;
            rights += row.state == channel::EC_NEED_ADMIN;
        }
    }
    QString servers = QStringLiteral("Порты: %1 из %2 открыто").arg(open).arg(total);
    if (busy > 0)
        servers += QStringLiteral(", %1 занято").arg(busy);
    if (rights > 0)
        servers += QStringLiteral(", %1 без прав администратора").arg(rights);
    m_servers->setText(servers);

    if (m_check.running && m_check.peerNumber > 0)
        m_checkLabel->setText(QStringLiteral("Проверка: узел %1 из %2 (%3)")
                                  .arg(m_check.peerNumber)
                                  .arg(m_check.peerCount)
                                  .arg(m_check.peer));
    else if (m_check.running)
        m_checkLabel->setText(QStringLiteral("Проверка запускается"));
    else
        m_checkLabel->clear();

    const int shown = m_logic ? m_logic->ShownRowCount() : 0;
    const int all = m_logic ? m_logic->GetEventCount() : 0;
    m_events->setText(QStringLiteral("События: %1 из %2").arg(shown).arg(all));
}

QStringList CFrameStatusBar::Texts() const
{
    return {m_servers->text(), m_checkLabel->text(), m_events->text()};
}

} // namespace app
