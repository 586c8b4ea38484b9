#pragma once

// The --json documents of kanaliko-cli ping and trace: one document per run,
// with the settings used, and per target its statistics and every stored result
// (ping) or its route state and hops (trace). Times are the wall clock in UTC
// ("2024-06-01T09:05:06.123456Z") and round trips are given both in whole
// milliseconds, as the Russian texts show them, and in microseconds from the
// kernel's time stamps.
//
// Threads: the GUI thread, after the engine has been stopped.

#include "diag/CPing.h"
#include "diag/CTraceRoute.h"

#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

// Microseconds since 1970-01-01 UTC as "YYYY-MM-DDThh:mm:ss.uuuuuuZ".
QString UtcTimeText(std::int64_t microseconds);

// count: the requests per target asked for (0: until interrupted).
QJsonObject PingDocument(diag::CPing& ping, const std::vector<std::string>& targets,
                         const diag::EchoSettings& settings, long count, bool allAnswered);

// passes: the complete traces per target asked for (0: until interrupted).
QJsonObject TraceDocument(diag::CTraceRoute& trace, const std::vector<std::string>& targets,
                          const diag::RouteSettings& settings, long passes, bool allBuilt);

} // namespace cli
