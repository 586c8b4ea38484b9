#include "platform/ErrorTexts.h"

#include "ferrox/strings/Strings.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <cwchar>

namespace platform {

namespace {

struct ErrorText
{
    unsigned code;
    const wchar_t* text;
};

// Our own words for the codes the program reports. Winsock's numbers come first,
// then IP Helper's echo statuses (which share the 11000 range with Winsock's
// resolver codes; the program only ever reports the echo statuses there).
constexpr ErrorText kTexts[] = {
    {0, L"Операция завершена успешно."},

    {10004, L"Операция была прервана до своего завершения."},
    {10009, L"Указан недействительный дескриптор."},
    {10013, L"Доступ запрещён: для этой операции нужны права администратора."},
    {10014, L"В вызов передан неверный адрес памяти."},
    {10022, L"В вызов передан недопустимый аргумент."},
    {10024, L"Открыто слишком много сокетов."},
    {10035, L"Операцию на неблокирующем сокете нельзя выполнить сразу."},
    {10036, L"Уже выполняется блокирующая операция."},
    {10037, L"Операция на этом сокете уже выполняется."},
    {10038, L"Указанный дескриптор не является сокетом."},
    {10039, L"Не указан адрес назначения."},
    {10040, L"Датаграмма больше буфера приёма или допустимого размера сообщения."},
    {10041, L"Протокол не подходит для этого типа сокета."},
    {10042, L"Параметр сокета неизвестен или не поддерживается."},
    {10043, L"Протокол не поддерживается или его номер недопустим."},
    {10044, L"Этот тип сокета не поддерживается."},
    {10045, L"Операция не поддерживается для этого сокета."},
    {10047, L"Семейство адресов не поддерживается."},
    {10048, L"Адрес и порт уже заняты другим сокетом."},
    {10049, L"Запрошенный адрес не принадлежит этому узлу."},
    {10050, L"Сеть не работает."},
    {10051, L"Сеть назначения недоступна."},
    {10052, L"Время жизни пакета истекло по пути к узлу назначения."},
    {10053, L"Соединение прервано программой на этом узле."},
    {10054, L"Удалённый узел сбросил соединение или сообщил, что порт или протокол недоступен."},
    {10055, L"Не хватает памяти или места в буфере для операции с сокетом."},
    {10056, L"Сокет уже подключён."},
    {10057, L"Сокет не подключён."},
    {10058, L"Передача невозможна: сокет уже закрыт в этом направлении."},
    {10060, L"Время ожидания истекло, ответ не получен."},
    {10061, L"Удалённый узел отказал в подключении."},
    {10064, L"Удалённый узел не работает."},
    {10065, L"Узел назначения недоступен."},

    {11002, L"Сеть назначения недоступна."},
    {11003, L"Узел назначения недоступен."},
    {11004, L"Протокол на узле назначения недоступен."},
    {11005, L"Порт на узле назначения недоступен."},
    {11006, L"Не хватает ресурсов для отправки запроса."},
    {11007, L"В запросе указан неверный параметр IP."},
    {11008, L"Произошла аппаратная ошибка."},
    {11009, L"Пакет слишком велик для передачи без фрагментации."},
    {11010, L"Время ожидания ответа на запрос истекло."},
    {11011, L"Запрос сформирован неверно."},
    {11012, L"Маршрут к узлу назначения неверен."},
    {11013, L"Время жизни пакета истекло в пути."},
    {11014, L"Время жизни пакета истекло при сборке фрагментов."},
    {11015, L"В параметрах пакета обнаружена ошибка."},
    {11016, L"Узел назначения просит снизить скорость передачи."},
    {11018, L"Адрес назначения недопустим."},
    {11050, L"Общий сбой при отправке запроса."},
};

// The codes of ShortSendDetail: 1WWWWSSSS in decimal.
constexpr unsigned kShortSendFirst = 100000000;
constexpr unsigned kShortSendLast = 199999999;
constexpr unsigned kCountLimit = 9999;

unsigned ClampCount(int count)
{
    return count < 0 ? 0u : std::min(static_cast<unsigned>(count), kCountLimit);
}

// "байт" after "из N": genitive singular after a number ending in 1 (but not
// 11), the counting form otherwise.
const wchar_t* BytesWord(unsigned count)
{
    return count % 10 == 1 && count % 100 != 11 ? L"байта" : L"байт";
}

std::wstring ShortSendText(unsigned code)
{
    const unsigned wanted = (code / 10000) % 10000;
    const unsigned sent = code % 10000;
    return L"Отправлена только часть данных: " + std::to_wstring(sent) + L" из " +
           std::to_wstring(wanted) + L" " + BytesWord(wanted) +
           L"; получатель не успевает их принимать.";
}

const wchar_t* OwnText(unsigned code)
{
    for (const ErrorText& entry : kTexts)
        if (entry.code == code)
            return entry.text;
    return nullptr;
}

std::wstring LibraryText(unsigned code)
{
    // strerrordesc_np, unlike strerror, answers null for a number it does not
    // know instead of making up "Unknown error N".
    if (code > static_cast<unsigned>(INT_MAX))
        return {};
    const char* description = ::strerrordesc_np(static_cast<int>(code));
    if (!description)
        return {};
    std::wstring text = as_wstring(description, CP_UTF8);
    if (!text.empty() && text.back() != L'.')
        text += L'.';
    return text;
}

} // namespace

std::wstring SystemErrorText(unsigned code, bool withNumber)
{
    std::wstring text;
    if (const wchar_t* own = OwnText(code))
        text = own;
    else if (code >= kShortSendFirst && code <= kShortSendLast)
        text = ShortSendText(code);
    else
        text = LibraryText(code);
    // No line break at the end, whichever source the text came from.
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r'))
        text.pop_back();
    if (!withNumber)
        return text;
    return std::to_wstring(code) + L": " + text;
}

unsigned ShortSendDetail(int sent, int wanted)
{
    return kShortSendFirst + ClampCount(wanted) * 10000 + ClampCount(sent);
}

} // namespace platform
