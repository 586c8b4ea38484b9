#include "ferrox/exceptions/Exceptions.h"
#include "ferrox/strings/Strings.h"

#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>

namespace {

TEST(FormatWstring, FormatsWideAndNarrowArguments)
{
    EXPECT_EQ(format_wstring(L"%d", 5), L"5");
    EXPECT_EQ(format_wstring(L"%u: %ls", 10054u, L"Соединение"), L"10054: Соединение");
    EXPECT_EQ(format_wstring(L"[%s]", "узел"), L"[узел]") << "narrow text is UTF-8";
    EXPECT_EQ(format_bstr(L"%02d", 7).wstr(), L"07");
}

TEST(FormatWstring, CutsAt2047Characters)
{
    std::wstring fill(3000, L'x');
    std::wstring out = format_wstring(L"%ls", fill.c_str());
    EXPECT_EQ(out.size(), 2047u);
    EXPECT_EQ(out, fill.substr(0, 2047));
    EXPECT_EQ(format_wstring(L"%ls", std::wstring(2047, L'y').c_str()).size(), 2047u);
}

TEST(FormatWstring, RefusesAFormatThatIsNotTerminated)
{
    const wchar_t text[] = L"%d%d";
    basic_const_string<wchar_t> view(text, 2); // "%d" followed by more text, not 0
    try {
        format_wstring(view, 1);
        FAIL();
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "Invalid _data of const_string for c_str()");
    }
}

TEST(Conversions, RoundTripAndEmptyText)
{
    EXPECT_EQ(as_string(basic_const_string<wchar_t>()), "");
    EXPECT_EQ(as_wstring(basic_const_string<char>()), L"");
    const std::wstring mixed = L"Порт занят: 10048 — ok ✓ \U0001F600";
    EXPECT_EQ(as_wstring(as_string(mixed)), mixed);
    EXPECT_EQ(as_string(L"abc", CP_UTF8), "abc");
}

TEST(Conversions, InvalidBytesBecomeReplacementCharacters)
{
    EXPECT_EQ(as_wstring(std::string("a\xff"
                                     "b")),
              L"a\uFFFDb");
    EXPECT_EQ(as_wstring(std::string("\xd0")), L"\uFFFD") << "a truncated sequence";
    EXPECT_EQ(as_wstring(std::string("\xc0\xaf")), L"\uFFFD\uFFFD") << "an overlong form";
    EXPECT_EQ(as_string(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xef\xbf\xbd");
}

TEST(Conversions, UnknownCodePageIsASystemError)
{
    try {
        as_string(L"x", 1251);
        FAIL();
    } catch (ESystemException& e) {
        e.cancel_minidump();
        EXPECT_EQ(e.get_value("Code").as_int(), EINVAL);
    }
}

TEST(Itoa, RadixesAndNegatives)
{
    EXPECT_EQ(itoa(255, 16), "ff");
    EXPECT_EQ(itoa(-1, 16), "ffffffff");
    EXPECT_EQ(itoa(-15, 10), "-15");
    EXPECT_EQ(itoa(INT_MIN, 10), "-2147483648");
    EXPECT_EQ(itoa(INT_MIN, 2), "1" + std::string(31, '0'));
    EXPECT_EQ(itoa(0, 36), "0");
    EXPECT_EQ(itoa(35, 36), "z");
    try {
        itoa(5, 1);
        FAIL();
    } catch (ERuntimeException& e) {
        e.cancel_minidump();
        EXPECT_EQ(e.get_value("Code").as_int(), EINVAL);
    }
}

TEST(Wtoi, LeadingSpaceSignAndStop)
{
    EXPECT_EQ(wtoi(L" 42abc"), 42);
    EXPECT_EQ(wtoi(L""), 0);
    EXPECT_EQ(wtoi(L"abc"), 0);
    EXPECT_EQ(wtoi(L"\t-17"), -17);
    EXPECT_EQ(wtoi(L"+8"), 8);
    EXPECT_EQ(wtoi(L"- 8"), 0);
    EXPECT_EQ(wtoi(L"99999999999"), INT_MAX) << "overflow clamps as the C runtime does";
    EXPECT_EQ(wtoi(L"-99999999999"), INT_MIN);
}

} // namespace
