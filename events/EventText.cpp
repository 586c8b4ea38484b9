#include "events/EventText.h"

#include "channel/EventCodes.h"
#include "ferrox/strings/Strings.h"
#include "platform/ErrorTexts.h"

#include <array>

namespace events {

namespace {

const std::array<std::string, EVENT_COLUMN_COUNT> kHeaders = {
    "Статус",        "Время",   "Описание", "Протокол",           "Отправитель ->",
    "<- Получатель", "Порт ->", "<- Порт",  "Подробное описание",
};
const std::string kEmpty;
const std::string kUnknown = "???";
const std::string kStatusInformation = "Информация";
const std::string kStatusError = "Ошибка";
const std::string kStatusWarning = "Предупреждение";

std::string Utf8(const std::wstring& text)
{
    return as_string(text, CP_UTF8);
}

// The code texts in UTF-8, built once (the engine keeps them wide).
const std::array<std::string, channel::EVENT_CODE_COUNT>& DescriptionTexts()
{
    static const std::array<std::string, channel::EVENT_CODE_COUNT> texts = [] {
        std::array<std::string, channel::EVENT_CODE_COUNT> t;
        for (int code = 0; code < channel::EVENT_CODE_COUNT; ++code)
            t[static_cast<std::size_t>(code)] = Utf8(channel::EventCodeText(code));
        return t;
    }();
    return texts;
}

} // namespace

const std::string& ColumnHeader(int column)
{
    return column >= 0 && column < EVENT_COLUMN_COUNT ? kHeaders[static_cast<std::size_t>(column)]
                                                      : kEmpty;
}

const std::string& StatusText(int status)
{
    switch (status) {
    case channel::STATUS_INFORMATION: return kStatusInformation;
    case channel::STATUS_ERROR: return kStatusError;
    case channel::STATUS_WARNING: return kStatusWarning;
    default: return kUnknown;
    }
}

void AppendTimeText(std::string& out, std::uint64_t fileTime)
{
    // FILETIME's origin is a midnight, so the time of day is plain arithmetic.
    const std::uint64_t milliseconds = fileTime / 10000ULL;
    const std::uint64_t seconds = milliseconds / 1000ULL;
    const auto hour = static_cast<unsigned>((seconds / 3600ULL) % 24ULL);
    const auto minute = static_cast<unsigned>((seconds / 60ULL) % 60ULL);
    const auto second = static_cast<unsigned>(seconds % 60ULL);
    const auto millisecond = static_cast<unsigned>(milliseconds % 1000ULL);
    // "%d:%02d:%02d.%03d", without the cost of a formatted print per cell.
    char text[16];
    char* p = text;
    if (hour >= 10)
        *p++ = static_cast<char>('0' + hour / 10);
    *p++ = static_cast<char>('0' + hour % 10);
    *p++ = ':';
    *p++ = static_cast<char>('0' + minute / 10);
    *p++ = static_cast<char>('0' + minute % 10);
    *p++ = ':';
    *p++ = static_cast<char>('0' + second / 10);
    *p++ = static_cast<char>('0' + second % 10);
    *p++ = '.';
    *p++ = static_cast<char>('0' + millisecond / 100);
    *p++ = static_cast<char>('0' + millisecond / 10 % 10);
    *p++ = static_cast<char>('0' + millisecond % 10);
    out.append(text, p);
}

std::string TimeText(std::uint64_t fileTime)
{
    std::string text;
    AppendTimeText(text, fileTime);
    return text;
}

const std::string& DescriptionText(int code)
{
    if (code < 0 || code >= channel::EVENT_CODE_COUNT)
        return kUnknown;
    return DescriptionTexts()[static_cast<std::size_t>(code)];
}

const std::string& ProtocolText(int protocol)
{
    return channel::ProtocolNameNarrow(protocol);
}

std::string PortText(std::uint16_t port)
{
    return std::to_string(static_cast<unsigned>(port));
}

std::string DetailText(std::uint32_t code)
{
    const std::wstring text = platform::SystemErrorText(code, false);
    if (text.empty())
        return {};
    return std::to_string(code) + ": " + Utf8(text);
}

std::string CellText(const Event& event, int column)
{
    switch (column) {
    case COL_STATUS: return StatusText(event.status);
    case COL_TIME: return TimeText(event.time);
    case COL_DESCRIPTION: return DescriptionText(event.description);
    case COL_PROTOCOL: return ProtocolText(event.protocol);
    case COL_SENDER: return event.senderText;
    case COL_RECEIVER:
        return event.receiverPort != 0 ? std::string(event.receiverText) : std::string();
    case COL_SENDER_PORT: return PortText(event.senderPort);
    case COL_RECEIVER_PORT:
        return event.receiverPort != 0 ? PortText(event.receiverPort) : std::string();
    case COL_DETAIL: return event.detail != 0 ? DetailText(event.detail) : std::string();
    default: return {};
    }
}

} // namespace events
