#pragma once

// How the headless front end writes an event: one line with its time stamp, and
// the same fields as JSON.

#include "events/Event.h"

#include <QJsonObject>

#include <string>

namespace cli {

// "23:01:02.123  Информация  TCP  127.0.0.1:47001 -> 127.0.0.1:47001  Данные получены  [10054:
// ...]"
std::string EventLine(const events::Event& event);
// "YYYY-MM-DD hh:mm:ss.mmm" of an event's local time.
std::string EventDateTime(std::uint64_t fileTime);
// Stable field names: sequence, time, status, statusText, code, description,
// protocol, sender, senderPort, receiver, receiverPort, error, detail.
QJsonObject EventJson(const events::Event& event);

} // namespace cli
