#include "markuptree/PNode.h"

#include "markuptree/detail/DocumentState.h"

#include "ferrox/strings/Strings.h"

#include <climits>
#include <cstdint>

namespace xml {

using detail::document_state;
using detail::path_link;

namespace {

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Optional blanks, an optional sign, decimal digits, optional blanks; within int.
bool parse_int(const std::string& text, int& value)
{
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && is_blank(text[i]))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t digitsFrom = i;
    std::int64_t magnitude = 0;
    while (i < n && text[i] >= '0' && text[i] <= '9') {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > static_cast<std::int64_t>(INT_MAX) + 1)
            return false;
        ++i;
    }
    if (i == digitsFrom)
        return false;
    while (i < n && is_blank(text[i]))
        ++i;
    if (i != n)
        return false;
    const std::int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > INT_MAX || signedValue < INT_MIN)
        return false;
    value = static_cast<int>(signedValue);
    return true;
}

// A value shown inside a message: long values are cut, so that a 10 MB
// attribute does not become a 10 MB message.
std::string quoted_excerpt(const std::string& text)
{
    constexpr std::size_t limit = 64;
    if (text.size() <= limit)
        return '"' + text + '"';
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut; // not inside a UTF-8 sequence
    return '"' + text.substr(0, cut) + "...\"";
}

} // namespace

pnode::pnode() = default;
pnode::pnode(const pnode&) = default;
pnode::pnode(pnode&&) noexcept = default;
pnode& pnode::operator=(const pnode&) = default;
pnode& pnode::operator=(pnode&&) noexcept = default;
pnode::~pnode() = default;

pnode::pnode(std::shared_ptr<document_state> doc, pugi::xml_node node,
             std::shared_ptr<const path_link> link)
    : m_doc(std::move(doc)), m_node(node), m_link(std::move(link)),
      m_kind(node ? kind::node : kind::none)
{}

bool pnode::valid() const noexcept
{
    return m_kind == kind::node || m_kind == kind::attribute;
}

bool pnode::is_element() const noexcept
{
    return m_kind == kind::node && m_node.type() == pugi::node_element;
}

bool pnode::is_attribute() const noexcept
{
    return m_kind == kind::attribute;
}

pnode pnode::missing(kind what, const name_holder& name) const
{
    if (!valid() || m_kind == kind::attribute) {
        if (m_kind == kind::attribute) {
            // An attribute has no children: the miss is recorded on its element.
            pnode result(*this);
            result.m_attr = pugi::xml_attribute();
            result.m_kind = what;
            result.m_missing = name.utf8();
            return result;
        }
        return *this; // the first miss on the way is the one to report
    }
    pnode result(*this);
    result.m_kind = what;
    result.m_missing = name.utf8();
    return result;
}

pnode pnode::operator[](const element& name) const
{
    if (m_kind != kind::node)
        return missing(kind::missing_element, name);
    pugi::xml_node child = m_node.child(name.utf8().c_str());
    if (!child)
        return missing(kind::missing_element, name);
    // The first child of that name: position 1.
    return pnode(m_doc, child, std::make_shared<const path_link>(m_link, child, 1));
}

pnode pnode::operator[](const attribute& name) const
{
    if (m_kind != kind::node)
        return missing(kind::missing_attribute, name);
    pugi::xml_attribute attr = m_node.attribute(name.utf8().c_str());
    if (!attr)
        return missing(kind::missing_attribute, name);
    pnode result(*this);
    result.m_attr = attr;
    result.m_kind = kind::attribute;
    return result;
}

pnode pnode::operator[](const node& name) const
{
    if (m_kind != kind::node)
        return missing(kind::missing_either, name);
    if (pugi::xml_attribute attr = m_node.attribute(name.utf8().c_str())) {
        pnode result(*this);
        result.m_attr = attr;
        result.m_kind = kind::attribute;
        return result;
    }
    if (pugi::xml_node child = m_node.child(name.utf8().c_str()))
        return pnode(m_doc, child, std::make_shared<const path_link>(m_link, child, 1));
    return missing(kind::missing_either, name);
}

bool pnode::exist_attribute(const attribute& name) const
{
    return m_kind == kind::node && m_node.attribute(name.utf8().c_str());
}

pnodelist pnode::get_nodelist(const element& name) const
{
    if (m_kind != kind::node)
        return pnodelist();
    return pnodelist(m_doc, m_node, m_link, &name.utf8());
}

pnodelist pnode::children() const
{
    if (m_kind != kind::node)
        return pnodelist();
    return pnodelist(m_doc, m_node, m_link, nullptr);
}

void pnode::throw_invalid(const char* action) const
{
    const document_state* state = m_doc.get();
    const std::string file = state ? state->file : std::string();
    const std::string at = m_node ? detail::element_path(m_link, m_node) : std::string();
    std::string text;
    switch (m_kind) {
    case kind::missing_attribute:
        text = "Нет атрибута \"" + m_missing + "\" у элемента " + at;
        break;
    case kind::missing_element: text = "Нет элемента \"" + m_missing + "\" в элементе " + at; break;
    case kind::missing_either:
        text = "Нет ни атрибута, ни элемента \"" + m_missing + "\" у элемента " + at;
        break;
    default:
        text = std::string("Нельзя ") + action + ": узел документа не задан";
        detail::throw_error(text, std::string(), std::string());
    }
    detail::throw_error(text + detail::where_suffix(state), file, at);
}

std::string pnode::value_utf8() const
{
    if (m_kind == kind::attribute)
        return m_attr.value();
    if (m_kind != kind::node)
        throw_invalid("прочитать значение");
    if (m_node.type() != pugi::node_element)
        return m_node.value();
    // The text directly inside the element, in order.
    std::string text;
    for (pugi::xml_node c = m_node.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata)
            text += c.value();
    }
    return text;
}

void pnode::get_value(int& value) const
{
    const std::string text = value_utf8();
    if (parse_int(text, value))
        return;
    const std::string at = detail::element_path(m_link, m_node);
    std::string what = m_kind == kind::attribute
                           ? "атрибута \"" + std::string(m_attr.name()) + "\" элемента " + at
                           : "элемента " + at;
    detail::throw_error("Значение " + quoted_excerpt(text) + " " + what +
                            detail::where_suffix(m_doc.get()) + " не является целым числом",
                        m_doc ? m_doc->file : std::string(), at);
}

void pnode::get_value(std::wstring& value) const
{
    value = as_wstring(const_string(value_utf8()), CP_UTF8);
}

_value_t pnode::get_value() const
{
    return _value_t(as_wstring(const_string(value_utf8()), CP_UTF8));
}

pnode pnode::append(const element& name) const
{
    if (m_kind != kind::node || m_node.type() != pugi::node_element)
        throw_invalid("добавить элемент");
    pugi::xml_node parent = m_node; // a handle: copies refer to the same node
    pugi::xml_node child = parent.append_child(name.utf8().c_str());
    if (!child)
        detail::throw_error("Не удалось добавить элемент \"" + name.utf8() + "\" в элемент " +
                                detail::element_path(m_link, m_node),
                            m_doc->file, std::string());
    // Position 0: counted only if a message ever needs it.
    return pnode(m_doc, child, std::make_shared<const path_link>(m_link, child, 0));
}

pnode pnode::append(const attribute& name) const
{
    if (m_kind != kind::node || m_node.type() != pugi::node_element)
        throw_invalid("добавить атрибут");
    pugi::xml_node owner = m_node;
    pugi::xml_attribute attr = owner.attribute(name.utf8().c_str());
    if (!attr)
        attr = owner.append_attribute(name.utf8().c_str());
    if (!attr)
        detail::throw_error("Не удалось добавить атрибут \"" + name.utf8() + "\" к элементу " +
                                detail::element_path(m_link, m_node),
                            m_doc->file, std::string());
    pnode result(*this);
    result.m_attr = attr;
    result.m_kind = kind::attribute;
    return result;
}

void pnode::put_utf8(const char* text) const
{
    bool done = false;
    pugi::xml_node node = m_node; // handles: copies refer to the same node
    pugi::xml_attribute attr = m_attr;
    if (m_kind == kind::attribute) {
        done = attr.set_value(text);
    } else if (m_kind == kind::node && m_node.type() == pugi::node_element) {
        // Only the text goes: child elements stay, so that no handle to one
        // is left pointing at a removed node.
        for (pugi::xml_node c = node.first_child(); c;) {
            const pugi::xml_node next = c.next_sibling();
            if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata)
                node.remove_child(c);
            c = next;
        }
        done = *text == 0 || node.append_child(pugi::node_pcdata).set_value(text);
    } else if (m_kind == kind::node) {
        done = node.set_value(text);
    } else {
        throw_invalid("записать значение");
    }
    if (!done)
        detail::throw_error("Не удалось записать значение в " + path(), m_doc->file, std::string());
}

void pnode::put_value(int value) const
{
    put_utf8(std::to_string(value).c_str());
}

void pnode::put_value(const std::wstring& value) const
{
    put_utf8(as_string(const_wstring(value), CP_UTF8).c_str());
}

void pnode::put_value(const wchar_t* value) const
{
    put_utf8(value ? as_string(const_wstring(value), CP_UTF8).c_str() : "");
}

std::wstring pnode::name() const
{
    const char* n = m_kind == kind::attribute ? m_attr.name()
                    : m_kind == kind::node    ? m_node.name()
                                              : "";
    return as_wstring(const_string(n), CP_UTF8);
}

std::string pnode::path() const
{
    if (!m_node)
        return std::string();
    std::string p = detail::element_path(m_link, m_node);
    if (m_kind == kind::attribute)
        p += std::string("/@") + m_attr.name();
    return p;
}

// ---- pnodelist -------------------------------------------------------------------

pnodelist::pnodelist() = default;
pnodelist::pnodelist(const pnodelist&) = default;
pnodelist& pnodelist::operator=(const pnodelist&) = default;
pnodelist::~pnodelist() = default;

pnodelist::pnodelist(std::shared_ptr<document_state> doc, pugi::xml_node parent,
                     std::shared_ptr<const path_link> parentLink, const std::string* name)
    : m_doc(std::move(doc)), m_parent(parent), m_parentLink(std::move(parentLink)),
      m_name(name ? *name : std::string()), m_all(name == nullptr)
{}

pnode pnodelist::nextnode()
{
    if (!m_parent)
        return pnode();
    if (!m_started) {
        m_started = true;
        m_current = m_all ? m_parent.first_child() : m_parent.child(m_name.c_str());
    } else if (m_current) {
        m_current = m_all ? m_current.next_sibling() : m_current.next_sibling(m_name.c_str());
    }
    if (!m_current)
        return pnode();
    ++m_position;
    // In a list of one name the count is the position among same-named siblings.
    const unsigned position = m_all ? 0 : m_position;
    return pnode(m_doc, m_current,
                 std::make_shared<const path_link>(m_parentLink, m_current, position));
}

void pnodelist::reset()
{
    m_started = false;
    m_current = pugi::xml_node();
    m_position = 0;
}

long pnodelist::length() const
{
    long count = 0;
    if (!m_parent)
        return 0;
    if (m_all) {
        for (pugi::xml_node c = m_parent.first_child(); c; c = c.next_sibling())
            ++count;
    } else {
        for (pugi::xml_node c = m_parent.child(m_name.c_str()); c;
             c = c.next_sibling(m_name.c_str()))
            ++count;
    }
    return count;
}

} // namespace xml
