#pragma once

// Event codes of the channel check, their texts and the status rule, and the
// small text routines the engine, the panes and the event list share.

#include <cstdint>
#include <string>
#include <utility>

namespace channel {

// Protocol codes of channels, events and client rows.
inline constexpr int PROTOCOL_TCP = 1;
inline constexpr int PROTOCOL_UDP = 2;
inline constexpr int PROTOCOL_IP = 3;

// Event statuses; EventCodeStatus derives them from a code.
enum EventStatus : std::int32_t
{
    STATUS_INFORMATION = 0,
    STATUS_ERROR = 2,
    STATUS_WARNING = 3,
};

enum EventCode : int
{
    EC_NONE = 0,
    EC_PORT_OPEN = 1,      // "Порт открыт"
    EC_PORT_BUSY = 2,      // "Порт занят" (10048)
    EC_NEED_ADMIN = 3,     // "Нужны права администратора" (10013)
    EC_CONNECTED = 4,      // "Соединение установлено"
    EC_DISCONNECTED = 5,   // "Соединение разорвано"
    EC_OPENED = 6,         // "Попытка подключения": a client socket is open
    EC_CONNECT_FAILED = 7, // "Не удалось подключиться"
    EC_SEND_FAILED = 8,    // "Не удалось отправить данные"
    EC_RECEIVE_FAILED = 9, // "Не удалось получить данные"
    EC_SENT = 10,          // "Данные отправлены"
    EC_RECEIVED = 11,      // "Данные получены"
    // Reported as information, though it is a failure:
    EC_NO_PROTOCOL = 12,    // "Протокол не существует"
    EC_CONNECTING = 13,     // "Попытка подключения": a connect in progress
    EC_INTERNAL_ERROR = 14, // "Внутренняя ошибка"
};

inline constexpr int EVENT_CODE_COUNT = 15; // codes 0..14

// The text of a code; "???" for a code outside 0..14.
const std::wstring& EventCodeText(int code);
// 2, 3, 7, 8, 9 -> 3 (warning); 14 -> 2 (error); any other -> 0 (information).
int EventCodeStatus(int code);

// 1 "TCP", 2 "UDP", 3 "IP", anything else "".
const std::wstring& ProtocolName(int protocol);
const std::string& ProtocolNameNarrow(int protocol);
// Exactly "TCP", "UDP" or "IP" (case matters) -> 1, 2, 3; anything else 0.
int ProtocolFromName(const std::wstring& name);

// "<sender> <-> <receiver>" and back: the text before the first " <-> " and after it.
std::wstring ChannelPairText(const std::wstring& sender, const std::wstring& receiver);
std::pair<std::wstring, std::wstring> SplitChannelPair(const std::wstring& pair);

// "%d.%d.%d.%d" of an address in network order, first byte first.
std::string AddressText(std::uint32_t networkOrderAddress);

// The system's text for an error code, "" when it has none; with the number,
// "%u: %s" (so a code without a text gives "<code>: ").
std::wstring SystemErrorText(unsigned code, bool withNumber);

// Narrow text for the console (UTF-8 here), and wide text from narrow.
std::string ConsoleText(const std::wstring& text);
std::wstring WideFromNarrow(const std::string& text);

} // namespace channel
