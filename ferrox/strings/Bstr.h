#pragma once

#include "ferrox/FerroxApi.h"

#include <string>

// The library's own small wide-string type. It stands where COM's BSTR wrapper
// stood: a wide text that converts to narrow (UTF-8) text on request.
class FERROX_API _bstr_t
{
public:
    _bstr_t() = default;
    _bstr_t(const wchar_t* text) : m_text(text ? text : L"") {}
    _bstr_t(const std::wstring& text) : m_text(text) {}
    _bstr_t(const char* text);
    _bstr_t(const std::string& text);

    const wchar_t* c_str() const { return m_text.c_str(); }
    const std::wstring& wstr() const { return m_text; }
    std::string str() const;
    unsigned length() const { return static_cast<unsigned>(m_text.size()); }
    bool empty() const { return m_text.empty(); }
    operator const wchar_t*() const { return m_text.c_str(); }

    bool operator==(const _bstr_t& other) const { return m_text == other.m_text; }
    _bstr_t& operator+=(const _bstr_t& other)
    {
        m_text += other.m_text;
        return *this;
    }

private:
    std::wstring m_text;
};
