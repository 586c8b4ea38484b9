#pragma once

#include "ferrox/FerroxApi.h"
#include "ferrox/strings/Bstr.h"
#include "ferrox/strings/ConstString.h"

#include <string>

// Code pages: the narrow "ANSI" and "OEM" pages are UTF-8 on this platform, so the
// three names are accepted and mean the same conversion.
constexpr int CP_ACP = 0;
constexpr int CP_OEMCP = 1;
constexpr int CP_UTF8 = 65001;

// printf-style formatting into a wide string of at most 2047 characters. Wide
// arguments take %ls (or %S), narrow UTF-8 arguments take %s. Throws std::logic_error
// when the format view is not zero-terminated at its length.
FERROX_API std::wstring format_wstring(basic_const_string<wchar_t> format, ...);
FERROX_API _bstr_t format_bstr(basic_const_string<wchar_t> format, ...);

// Wide <-> narrow text through a code page (all accepted pages are UTF-8). As the
// system conversion without flags does, invalid sequences become U+FFFD; an
// unknown code page raises ESystemException(EINVAL).
FERROX_API std::string as_string(basic_const_string<wchar_t> text, int codePage = CP_ACP);
FERROX_API std::wstring as_wstring(basic_const_string<char> text, int codePage = CP_ACP);

// Radix 2..36; negative values carry a minus sign in radix 10 and are written as
// the unsigned 32-bit pattern in any other radix. Another radix raises
// ERuntimeException(EINVAL), the C runtime's invalid-parameter error.
FERROX_API std::string itoa(int value, int radix);
// Leading white space and a sign are accepted; conversion stops at the first non-digit.
FERROX_API int wtoi(const std::wstring& text);
