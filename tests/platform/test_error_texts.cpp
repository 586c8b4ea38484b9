// The system error texts the program shows next to an error code.

#include "platform/ErrorTexts.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>

namespace {

// Every code the program can report: Winsock's socket errors and IP Helper's
// echo statuses.
const unsigned kReportedCodes[] = {
    10004, 10013, 10022, 10024, 10035, 10038, 10040, 10043, 10048, 10049, 10050,
    10051, 10052, 10053, 10054, 10055, 10056, 10057, 10060, 10061, 10064, 10065,
    11002, 11003, 11004, 11005, 11009, 11010, 11013, 11014, 11050,
};

bool HasCyrillic(const std::wstring& text)
{
    for (wchar_t c : text)
        if (c >= L'\u0400' && c <= L'\u04FF')
            return true;
    return false;
}

} // namespace

TEST(SystemErrorText, EveryReportedCodeHasOneRussianSentence)
{
    std::set<std::wstring> seen;
    for (unsigned code : kReportedCodes) {
        const std::wstring text = platform::SystemErrorText(code);
        ASSERT_FALSE(text.empty()) << code;
        EXPECT_TRUE(HasCyrillic(text)) << code;
        EXPECT_EQ(text.back(), L'.') << code;
        EXPECT_EQ(text.find(L'\n'), std::wstring::npos) << code;
        EXPECT_EQ(text.find(L'\r'), std::wstring::npos) << code;
        // One sentence: the only full stop is the last character.
        EXPECT_EQ(text.find(L'.'), text.size() - 1) << code;
        seen.insert(text);
    }
    // Distinct codes of the program's decisions read differently.
    EXPECT_NE(platform::SystemErrorText(10054), platform::SystemErrorText(10061));
    EXPECT_NE(platform::SystemErrorText(10048), platform::SystemErrorText(10049));
    EXPECT_NE(platform::SystemErrorText(10013), platform::SystemErrorText(10022));
}

TEST(SystemErrorText, WithNumberPutsTheCodeInFront)
{
    EXPECT_EQ(platform::SystemErrorText(10054, true),
              L"10054: " + platform::SystemErrorText(10054));
    EXPECT_EQ(platform::SystemErrorText(11010, true),
              L"11010: " + platform::SystemErrorText(11010));
}

TEST(SystemErrorText, CodeWithoutAnyTextIsEmptyOrJustTheNumber)
{
    for (unsigned code : {12345u, 10999u, 99999u, 0xFFFFFFFFu}) {
        EXPECT_EQ(platform::SystemErrorText(code), L"") << code;
        EXPECT_EQ(platform::SystemErrorText(code, true), std::to_wstring(code) + L": ") << code;
    }
}

TEST(SystemErrorText, OtherSystemErrorsFallBackToTheLibraryText)
{
    // errno values without a Winsock twin travel unchanged as error codes.
    for (int error : {EPROTO, ENOENT, EIO}) {
        const std::wstring text = platform::SystemErrorText(static_cast<unsigned>(error));
        EXPECT_FALSE(text.empty()) << error;
        EXPECT_NE(text.back(), L'\n');
    }
}

TEST(SystemErrorText, CommonSocketErrorsReadAsTheUserSeesThem)
{
    // The texts themselves, not the function that builds them: these are what a
    // user reads next to the commonest events.
    EXPECT_EQ(platform::SystemErrorText(10048), L"Адрес и порт уже заняты другим сокетом.");
    EXPECT_EQ(platform::SystemErrorText(10061), L"Удалённый узел отказал в подключении.");
    EXPECT_EQ(platform::SystemErrorText(10060), L"Время ожидания истекло, ответ не получен.");
    EXPECT_EQ(platform::SystemErrorText(10054),
              L"Удалённый узел сбросил соединение или сообщил, что порт или протокол "
              L"недоступен.");
    EXPECT_EQ(platform::SystemErrorText(10013),
              L"Доступ запрещён: для этой операции нужны права администратора.");
    EXPECT_EQ(platform::SystemErrorText(10024), L"Открыто слишком много сокетов.");
    EXPECT_EQ(platform::SystemErrorText(10035),
              L"Операцию на неблокирующем сокете нельзя выполнить сразу.");
    EXPECT_EQ(platform::SystemErrorText(10060, true),
              L"10060: Время ожидания истекло, ответ не получен.");
}

TEST(SystemErrorText, ShortSendSaysHowMuchOfTheDataWent)
{
    const unsigned code = platform::ShortSendDetail(1880, 2048);
    EXPECT_EQ(code, 120481880u) << "1, then the bytes wanted and sent, four digits each";
    EXPECT_EQ(platform::SystemErrorText(code),
              L"Отправлена только часть данных: 1880 из 2048 байт; получатель не успевает их "
              L"принимать.");
    EXPECT_EQ(platform::SystemErrorText(code, true),
              L"120481880: Отправлена только часть данных: 1880 из 2048 байт; получатель не "
              L"успевает их принимать.");
    EXPECT_NE(platform::SystemErrorText(platform::ShortSendDetail(0, 21)).find(L": 0 из 21 байта;"),
              std::wstring::npos);
    EXPECT_NE(platform::SystemErrorText(platform::ShortSendDetail(3, 11)).find(L"3 из 11 байт;"),
              std::wstring::npos);
    // Counts out of range are clamped, never spill into another code's range.
    EXPECT_EQ(platform::ShortSendDetail(-5, 100000), 199990000u);
    EXPECT_EQ(platform::SystemErrorText(platform::ShortSendDetail(-5, 100000))
                  .rfind(L"Отправлена только часть данных: 0 из 9999 байт;", 0),
              0u);
}
