#pragma once

#include "core/CXmlSettings.h"

namespace settingstest {

// The three port lists must be what the groups give: for every pair, the
// server port, then the client port (TCP and IP: only when not 0; UDP: always,
// so the list stays a list of pairs).
void ExpectListsMatchGroups(const core::CXmlSettings& settings);

} // namespace settingstest
