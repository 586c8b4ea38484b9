#include "channel/EventCodes.h"

#include "ferrox/strings/Strings.h"
#include "platform/ErrorTexts.h"

#include <array>
#include <cstdio>

namespace channel {

namespace {
const std::array<std::wstring, EVENT_CODE_COUNT> kTexts = {
    L"",
    L"Порт открыт",
    L"Порт занят",
    L"Нужны права администратора",
    L"Соединение установлено",
    L"Соединение разорвано",
    L"Попытка подключения",
    L"Не удалось подключиться",
    L"Не удалось отправить данные",
    L"Не удалось получить данные",
    L"Данные отправлены",
    L"Данные получены",
    L"Протокол не существует",
    L"Попытка подключения",
    L"Внутренняя ошибка",
};
const std::wstring kUnknown = L"???";
const std::wstring kProtocols[] = {L"", L"TCP", L"UDP", L"IP"};
const std::string kProtocolsNarrow[] = {"", "TCP", "UDP", "IP"};
const std::wstring kPairSeparator = L" <-> ";
} // namespace

const std::wstring& EventCodeText(int code)
{
    return code >= 0 && code < EVENT_CODE_COUNT ? kTexts[static_cast<std::size_t>(code)] : kUnknown;
}

int EventCodeStatus(int code)
{
    switch (code) {
    case EC_PORT_BUSY:
    case EC_NEED_ADMIN:
    case EC_CONNECT_FAILED:
    case EC_SEND_FAILED:
    case EC_RECEIVE_FAILED: return STATUS_WARNING;
    case EC_INTERNAL_ERROR: return STATUS_ERROR;
    default: return STATUS_INFORMATION;
    }
}

const std::wstring& ProtocolName(int protocol)
{
    return protocol >= 1 && protocol <= 3 ? kProtocols[protocol] : kProtocols[0];
}

const std::string& ProtocolNameNarrow(int protocol)
{
    return protocol >= 1 && protocol <= 3 ? kProtocolsNarrow[protocol] : kProtocolsNarrow[0];
}

int ProtocolFromName(const std::wstring& name)
{
    for (int p = 1; p <= 3; ++p) {
        if (name == kProtocols[p])
            return p;
    }
    return 0;
}

std::wstring ChannelPairText(const std::wstring& sender, const std::wstring& receiver)
{
    return format_wstring(L"%ls%ls%ls", sender.c_str(), kPairSeparator.c_str(), receiver.c_str());
}

std::pair<std::wstring, std::wstring> SplitChannelPair(const std::wstring& pair)
{
    std::size_t at = pair.find(kPairSeparator);
    if (at == std::wstring::npos)
        return {pair, std::wstring()};
    return {pair.substr(0, at), pair.substr(at + kPairSeparator.size())};
}

std::string AddressText(std::uint32_t networkOrderAddress)
{
    const auto* b = reinterpret_cast<const unsigned char*>(&networkOrderAddress);
    char text[16];
    std::snprintf(text, sizeof(text), "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    return text;
}

std::wstring SystemErrorText(unsigned code, bool withNumber)
{
    return platform::SystemErrorText(code, withNumber);
}

std::string ConsoleText(const std::wstring& text)
{
    return as_string(text, CP_OEMCP);
}

std::wstring WideFromNarrow(const std::string& text)
{
    return as_wstring(text, CP_ACP);
}

} // namespace channel
