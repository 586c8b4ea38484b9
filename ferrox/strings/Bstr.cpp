#include "ferrox/strings/Bstr.h"

#include "ferrox/strings/Strings.h"

_bstr_t::_bstr_t(const char* text) : m_text(text ? as_wstring(text) : std::wstring()) {}

_bstr_t::_bstr_t(const std::string& text) : m_text(as_wstring(text)) {}

std::string _bstr_t::str() const
{
    return as_string(m_text);
}
