#pragma once

#include "markuptree/MarkupTreeApi.h"
#include "markuptree/Names.h"

#include "ferrox/values/Value.h"

#include <memory>
#include <pugixml.hpp>
#include <string>

namespace xml {

namespace detail {
struct document_state;
struct path_link;
} // namespace detail

class pnodelist;

// A handle to one node of a document: an element, an attribute or a text node.
// Copies refer to the same node; a handle keeps its document alive, so it stays
// safe to use after the pdocument it came from is gone or has loaded another file.
//
// A selection that finds nothing gives an invalid handle (valid() is false) that
// remembers what was asked for and where. Selecting further from it stays
// invalid; reading or writing through it throws EGeneric whose "Text" names the
// missing attribute or element, the element path and the file.
//
// Threads: a document and all handles into it belong to one thread at a time.
class MARKUPTREE_API pnode
{
public:
    pnode();
    pnode(const pnode&);
    pnode(pnode&&) noexcept;
    pnode& operator=(const pnode&);
    pnode& operator=(pnode&&) noexcept;
    ~pnode();

    bool valid() const noexcept;
    bool is_element() const noexcept;
    bool is_attribute() const noexcept;

    // The first child element of that name.
    pnode operator[](const element& name) const;
    // The attribute of that name.
    pnode operator[](const attribute& name) const;
    // The attribute of that name, else the first child element of that name.
    pnode operator[](const node& name) const;

    bool exist_attribute(const attribute& name) const;
    // The child elements of that name, in document order (children only, not
    // deeper descendants). Empty for an invalid handle.
    pnodelist get_nodelist(const element& name) const;
    // Every child node (elements and text), in document order.
    pnodelist children() const;

    // The value: an attribute's text, or the text directly inside an element.
    // The integer form accepts optional blanks around an optionally signed
    // decimal number within the range of int; anything else throws EGeneric.
    void get_value(int& value) const;
    void get_value(std::wstring& value) const;
    // The value as a wide-string _value_t (read it with as_int, as_wstring, ...).
    _value_t get_value() const;

    // Appends a child element and returns it.
    pnode append(const element& name) const;
    // Adds the attribute (an existing one of that name is reused) and returns it.
    pnode append(const attribute& name) const;
    // Writes the value: an attribute's text, or the text directly inside an
    // element (its child elements stay).
    void put_value(int value) const;
    void put_value(const std::wstring& value) const;
    void put_value(const wchar_t* value) const;

    // The node's name ("" for text nodes and invalid handles).
    std::wstring name() const;
    // Where the node sits, for messages: "/Chanels/Group[2]/Proto[1]/@name".
    std::string path() const;

private:
    friend class pdocument;
    friend class pnodelist;

    enum class kind : unsigned char
    {
        none,            // default-constructed: refers to nothing
        node,            // an element or another node of the tree
        attribute,       // an attribute of m_node
        missing_element, // asked for child element m_missing of m_node
        missing_attribute,
        missing_either,
    };

    pnode(std::shared_ptr<detail::document_state> doc, pugi::xml_node node,
          std::shared_ptr<const detail::path_link> link);
    pnode missing(kind what, const name_holder& name) const;
    [[noreturn]] void throw_invalid(const char* action) const;
    std::string value_utf8() const;
    void put_utf8(const char* text) const;

    std::shared_ptr<detail::document_state> m_doc;
    pugi::xml_node m_node;
    pugi::xml_attribute m_attr;
    std::shared_ptr<const detail::path_link> m_link; // where m_node sits
    std::string m_missing;                           // for the missing_* kinds
    kind m_kind = kind::none;
};

// An ordered list of nodes, walked with nextnode() until it gives an invalid
// handle:
//   for (xml::pnode n = list.nextnode(); n.valid(); n = list.nextnode()) ...
// The list reads the document as it walks: nodes appended behind the cursor
// are met; do not remove nodes while walking.
class MARKUPTREE_API pnodelist
{
public:
    pnodelist();
    pnodelist(const pnodelist&);
    pnodelist& operator=(const pnodelist&);
    ~pnodelist();

    pnode nextnode();
    // Back to the first node.
    void reset();
    // The number of nodes in the list (counted on each call).
    long length() const;

private:
    friend class pnode;
    pnodelist(std::shared_ptr<detail::document_state> doc, pugi::xml_node parent,
              std::shared_ptr<const detail::path_link> parentLink, const std::string* name);

    std::shared_ptr<detail::document_state> m_doc;
    pugi::xml_node m_parent;
    std::shared_ptr<const detail::path_link> m_parentLink;
    std::string m_name;
    bool m_all = true; // every child, not only the elements of m_name
    bool m_started = false;
    pugi::xml_node m_current;
    unsigned m_position = 0; // 1-based position of m_current among its kind
};

} // namespace xml
