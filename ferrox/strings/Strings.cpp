#include "ferrox/strings/Strings.h"

#include "ferrox/exceptions/Exceptions.h"

#include <cerrno>
#include <clocale>
#include <cstdarg>
#include <cwchar>
#include <cwctype>
#include <locale.h>
#include <stdexcept>

namespace {

constexpr std::size_t kFormatBuffer = 2048; // at most 2047 characters are used

void check_code_page(int codePage)
{
    if (codePage != CP_ACP && codePage != CP_OEMCP && codePage != CP_UTF8)
        ThrowSystemException(EINVAL);
}

// Narrow %s arguments of the wide printf family are decoded through LC_CTYPE; the
// program's narrow text is UTF-8 whatever the process locale is, so formatting
// runs under a C.UTF-8 locale for the calling thread only.
locale_t utf8_locale()
{
    static const locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        return l ? l : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
    }();
    return loc;
}

std::wstring vformat(basic_const_string<wchar_t> format, va_list args)
{
    if (!format.is_terminated())
        throw std::logic_error("Invalid _data of const_string for c_str()");
    if (format.data() == nullptr)
        return std::wstring();
    wchar_t buffer[kFormatBuffer];
    buffer[0] = 0;
    locale_t previous = uselocale(utf8_locale());
    int written = std::vswprintf(buffer, kFormatBuffer, format.data(), args);
    uselocale(previous);
    if (written >= 0)
        return std::wstring(buffer, static_cast<std::size_t>(written));
    // Output longer than the buffer: the C library has written the first 2047
    // characters and a terminator; that cut text is the result.
    return std::wstring(buffer, wcsnlen(buffer, kFormatBuffer - 1));
}

void append_utf8(std::string& out, char32_t c)
{
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        c = 0xFFFD;
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

} // namespace

std::wstring format_wstring(basic_const_string<wchar_t> format, ...)
{
    va_list args;
    va_start(args, format);
    try {
        std::wstring out = vformat(format, args);
        va_end(args);
        return out;
    } catch (...) {
        va_end(args);
        throw;
    }
}

_bstr_t format_bstr(basic_const_string<wchar_t> format, ...)
{
    va_list args;
    va_start(args, format);
    try {
        std::wstring out = vformat(format, args);
        va_end(args);
        return _bstr_t(out);
    } catch (...) {
        va_end(args);
        throw;
    }
}

std::string as_string(basic_const_string<wchar_t> text, int codePage)
{
    check_code_page(codePage);
    std::string out;
    if (text.empty())
        return out;
    out.reserve(text.size());
    for (wchar_t wc : text)
        append_utf8(out, static_cast<char32_t>(wc));
    return out;
}

std::wstring as_wstring(basic_const_string<char> text, int codePage)
{
    check_code_page(codePage);
    std::wstring out;
    if (text.empty())
        return out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        unsigned char b = p[i];
        char32_t c;
        std::size_t len;
        if (b < 0x80) {
            c = b;
            len = 1;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            len = 2;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            len = 3;
        } else if ((b & 0xF8) == 0xF0) {
            c = b & 0x07;
            len = 4;
        } else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        bool ok = i + len <= n;
        for (std::size_t k = 1; ok && k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                ok = false;
            else
                c = (c << 6) | (p[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are invalid too.
        static const char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (!ok || c < kMin[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        out.push_back(static_cast<wchar_t>(c));
        i += len;
    }
    return out;
}

std::string itoa(int value, int radix)
{
    if (radix < 2 || radix > 36)
        throw ERuntimeException(EINVAL);
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    char buffer[65];
    char* end = buffer + sizeof(buffer);
    char* p = end;
    bool negative = radix == 10 && value < 0;
    // Radix 10 negatives: magnitude as unsigned so INT_MIN works; other radixes
    // show the two's complement bit pattern.
    std::uint32_t u =
        negative ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    do {
        *--p = digits[u % static_cast<std::uint32_t>(radix)];
        u /= static_cast<std::uint32_t>(radix);
    } while (u != 0);
    if (negative)
        *--p = '-';
    return std::string(p, end);
}

int wtoi(const std::wstring& text)
{
    std::size_t i = 0;
    while (i < text.size() && std::iswspace(static_cast<wint_t>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    // Accumulate in 64 bits and clamp like the C runtime does on overflow.
    std::int64_t value = 0;
    bool overflow = false;
    while (i < text.size() && text[i] >= L'0' && text[i] <= L'9') {
        if (!overflow) {
            value = value * 10 + (text[i] - L'0');
            if (value > static_cast<std::int64_t>(INT32_MAX) + 1)
                overflow = true;
        }
        ++i;
    }
    if (negative) {
        if (overflow || -value < INT32_MIN)
            return INT32_MIN;
        return static_cast<int>(-value);
    }
    if (overflow || value > INT32_MAX)
        return INT32_MAX;
    return static_cast<int>(value);
}
