#include "markuptree/Names.h"

#include "ferrox/strings/Strings.h"

namespace xml {

name_holder::name_holder(const _bstr_t& name)
    : m_wide(name.wstr()), m_utf8(as_string(const_wstring(m_wide), CP_UTF8))
{}

} // namespace xml
