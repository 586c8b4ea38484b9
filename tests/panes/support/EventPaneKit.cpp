#include "panes/support/EventPaneKit.h"

#include "events/EventText.h"
#include "loop/EventLoop.h"
#include "panes/CEventsModel.h"

#include <QTest>

#include <gtest/gtest.h>

namespace panestest {

int CLocalInterface::QueryAddresses(std::vector<core::InterfaceAddress>& addresses)
{
    core::InterfaceAddress entry;
    entry.name = "eth0";
    entry.index = 2;
    entry.flags = 1;            // IFF_UP
    entry.family = 2;           // AF_INET
    entry.address = 0x014DA8C0; // 192.168.77.1 in network order
    addresses.push_back(entry);
    return 0;
}

QString StoreCellText(const events::CEventStore& store, int row, int column)
{
    const std::optional<events::Event> event = store.ShownEventAtRow(row);
    if (!event)
        return {};
    return QString::fromStdString(events::CellText(*event, column));
}

bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    return loop::RunUntil(done, limit);
}

CEventPaneRig::CEventPaneRig()
    : m_logic(std::make_unique<core::CAppLogic>(nullptr, m_interfaces)),
      m_bar(std::make_unique<panes::CEventBar>(*m_logic, m_prompt))
{
    m_bar->resize(1000, 400);
    m_bar->show();
    if (!QTest::qWaitForWindowExposed(m_bar.get()))
        ADD_FAILURE() << "the pane was never shown";
}

CEventPaneRig::~CEventPaneRig()
{
    m_logic->Events().Filter().Stop();
    m_bar.reset();
    m_logic.reset();
}

bool CEventPaneRig::WaitForRows()
{
    return RunUntil([this] {
        return !Store().Filter().IsRunning() &&
               m_bar->Model()->rowCount() == Store().ShownRowCount();
    });
}

} // namespace panestest
