#pragma once

// The text forms of an event's fields, shared by the events pane, its CSV
// export and the filter dialog. All texts are UTF-8.
//
// Threads: any; the functions keep no state beyond tables built once.

#include "events/Event.h"

#include <cstdint>
#include <string>

namespace events {

// The grid's columns, in order; Sequence is the closing sort key, not a column.
enum EventColumn : int
{
    COL_STATUS = 0,
    COL_TIME = 1,
    COL_DESCRIPTION = 2,
    COL_PROTOCOL = 3,
    COL_SENDER = 4,
    COL_RECEIVER = 5,
    COL_SENDER_PORT = 6,
    COL_RECEIVER_PORT = 7,
    COL_DETAIL = 8,
    COL_SEQUENCE = 9,
};
inline constexpr int EVENT_COLUMN_COUNT = 9;

// "Статус", "Время", ... "Подробное описание"; "" for anything else.
const std::string& ColumnHeader(int column);

// 0 "Информация", 2 "Ошибка", 3 "Предупреждение", any other "???".
const std::string& StatusText(int status);
// "%d:%02d:%02d.%03d": hour, minute, second, millisecond of a FILETIME value.
std::string TimeText(std::uint64_t fileTime);
void AppendTimeText(std::string& out, std::uint64_t fileTime);
// The text of the event code (engine::EventCodeText), "???" outside 0..14.
const std::string& DescriptionText(int code);
// 1 "TCP", 2 "UDP", 3 "IP", anything else "".
const std::string& ProtocolText(int protocol);
// "%u".
std::string PortText(std::uint16_t port);
// "%u: %s" of the code and the system's text for it (platform::SystemErrorText,
// its trailing line break removed); "" when the system has no text for the code.
std::string DetailText(std::uint32_t code);

// The text of a grid cell: as above, except that the receiver and its port are
// empty when the receiver port is 0 and the detail is empty for code 0.
std::string CellText(const Event& event, int column);

} // namespace events
