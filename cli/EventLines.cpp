#include "cli/EventLines.h"
#include "ferrox/values/TimeUnits.h"

#include "events/EventText.h"

#include <chrono>
#include <cstdio>

namespace cli {

std::string EventLine(const events::Event& event)
{
    // Appended piece by piece: "literal" + std::string trips a false overlap
    // warning of GCC 12's optimiser.
    std::string line = events::TimeText(event.time);
    line.append("  ").append(events::StatusText(event.status));
    line.append("  ").append(events::ProtocolText(event.protocol));
    line.append("  ")
        .append(event.senderText)
        .append(":")
        .append(events::PortText(event.senderPort));
    if (event.receiverText[0] != 0 || event.receiverPort != 0) {
        line.append(" -> ").append(event.receiverText[0] ? event.receiverText : "?");
        if (event.receiverPort != 0)
            line.append(":").append(events::PortText(event.receiverPort));
    }
    line.append("  ").append(events::DescriptionText(event.description));
    if (event.detail != 0)
        line.append("  [").append(events::DetailText(event.detail)).append("]");
    return line;
}

std::string EventDateTime(std::uint64_t fileTime)
{
    using namespace std::chrono;
    const filetime_parts_t parts = filetime_parts(fileTime);
    const year_month_day date{sys_days{days{parts.unix_day}}};
    char text[40];
    std::snprintf(text, sizeof(text), "%04d-%02u-%02u %02u:%02u:%02u.%03u",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), parts.hour, parts.minute, parts.second,
                  parts.millisecond);
    return text;
}

QJsonObject EventJson(const events::Event& event)
{
    QJsonObject o;
    o["sequence"] = static_cast<qint64>(event.sequence);
    o["time"] = QString::fromStdString(EventDateTime(event.time));
    o["status"] = event.status;
    o["statusText"] = QString::fromStdString(events::StatusText(event.status));
    o["code"] = event.description;
    o["description"] = QString::fromStdString(events::DescriptionText(event.description));
    o["protocol"] = QString::fromStdString(events::ProtocolText(event.protocol));
    o["sender"] = QString::fromUtf8(event.senderText);
    o["senderPort"] = event.senderPort;
    o["receiver"] = QString::fromUtf8(event.receiverText);
    o["receiverPort"] = event.receiverPort;
    o["error"] = static_cast<qint64>(event.detail);
    o["detail"] = QString::fromStdString(event.detail != 0 ? events::DetailText(event.detail)
                                                           : std::string());
    return o;
}

} // namespace cli
