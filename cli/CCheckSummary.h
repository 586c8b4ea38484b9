#pragma once

// What kanaliko-cli check prints at the end: the client pane's tree
// (core::CPortRows, the one port-row model of the program) in text and JSON
// form. Every client row taken from the logic goes to Record.
//
// Threads: the GUI thread.

#include "channel/ClientRow.h"
#include "core/CPortRows.h"
#include "core/CXmlSettings.h"

#include <QJsonObject>

#include <string>
#include <vector>

namespace cli {

class CCheckSummary
{
public:
    CCheckSummary(const std::vector<std::string>& peers,
                  const core::CXmlSettings::GroupList& groups);

    void Record(const channel::ClientRow& row) { m_rows.Apply(row); }

    // True when there are port rows and every one of every peer got at least
    // one reply.
    bool AllAnswered() const { return m_rows.AllAnswered(); }
    // Port rows whose last code was 3 (no rights for raw sockets).
    int RowsNeedingRights() const;

    std::string Text() const;
    QJsonObject Json() const;
    const core::CPortRows& Rows() const { return m_rows; }

private:
    core::CPortRows m_rows;
};

} // namespace cli
