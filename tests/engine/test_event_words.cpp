// The words a user reads for the engine's events: each code's text and the
// status it is shown with. Asserted as written, not through the table that
// holds them.

#include "channel/EventCodes.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

TEST(EventWords, EveryCodeReadsAsTheUserSeesIt)
{
    const std::pair<int, std::wstring> texts[] = {
        {0, L""},
        {1, L"Порт открыт"},
        {2, L"Порт занят"},
        {3, L"Нужны права администратора"},
        {4, L"Соединение установлено"},
        {5, L"Соединение разорвано"},
        {6, L"Попытка подключения"},
        {7, L"Не удалось подключиться"},
        {8, L"Не удалось отправить данные"},
        {9, L"Не удалось получить данные"},
        {10, L"Данные отправлены"},
        {11, L"Данные получены"},
        {12, L"Протокол не существует"},
        {13, L"Попытка подключения"},
        {14, L"Внутренняя ошибка"},
    };
    for (const auto& [code, text] : texts)
        EXPECT_EQ(channel::EventCodeText(code), text) << "code " << code;
    for (int code : {-1, 15, 1000})
        EXPECT_EQ(channel::EventCodeText(code), L"???") << "code " << code;
}

TEST(EventWords, StatusFollowsTheCode)
{
    for (int code : {2, 3, 7, 8, 9})
        EXPECT_EQ(channel::EventCodeStatus(code), channel::STATUS_WARNING) << "code " << code;
    EXPECT_EQ(channel::EventCodeStatus(14), channel::STATUS_ERROR);
    // Code 12 reports a failure, yet it is information: the peer's system
    // answered, which is what the check wanted to know.
    for (int code : {0, 1, 4, 5, 6, 10, 11, 12, 13, 99})
        EXPECT_EQ(channel::EventCodeStatus(code), channel::STATUS_INFORMATION) << "code " << code;
    EXPECT_EQ(channel::STATUS_INFORMATION, 0);
    EXPECT_EQ(channel::STATUS_ERROR, 2);
    EXPECT_EQ(channel::STATUS_WARNING, 3);
}

} // namespace
