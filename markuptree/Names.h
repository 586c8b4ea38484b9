#pragma once

#include "markuptree/MarkupTreeApi.h"

#include "ferrox/strings/Bstr.h"

#include <string>

namespace xml {

// Name holders: they say what kind of thing a name selects, so that one
// operator[] can pick a child element, an attribute, or either. Each is built
// from a wide name (a _bstr_t, a wide literal or a std::wstring) and keeps it
// converted to UTF-8 once, the form the document stores.
class MARKUPTREE_API name_holder
{
public:
    explicit name_holder(const _bstr_t& name);
    const std::wstring& wide() const { return m_wide; }
    const std::string& utf8() const { return m_utf8; }

private:
    std::wstring m_wide;
    std::string m_utf8;
};

// A child element of that name.
class MARKUPTREE_API element : public name_holder
{
public:
    explicit element(const _bstr_t& name) : name_holder(name) {}
};

// An attribute of that name.
class MARKUPTREE_API attribute : public name_holder
{
public:
    explicit attribute(const _bstr_t& name) : name_holder(name) {}
};

// An attribute of that name when the element has one, else the first child
// element of that name: for values that a document may carry either way.
class MARKUPTREE_API node : public name_holder
{
public:
    explicit node(const _bstr_t& name) : name_holder(name) {}
};

} // namespace xml
