#pragma once

// Internal to markuptree: what the handles share.

#include <memory>
#include <pugixml.hpp>
#include <string>

namespace xml::detail {

struct document_state
{
    pugi::xml_document doc;
    std::string file; // "" for text given to put_xml
    bool indent = false;
};

// Where an element sits: its parent's link and its 1-based position among the
// parent's child elements of the same name (0: not known, counted when a
// message needs it). Handles reached through lists carry it, so that a message
// about the 100000th group names it without walking 99999 siblings.
struct path_link
{
    path_link(std::shared_ptr<const path_link> parentLink, pugi::xml_node at, unsigned index)
        : parent(std::move(parentLink)), node(at), position(index)
    {}
    path_link(const path_link&) = delete;
    path_link& operator=(const path_link&) = delete;
    // Releases a long chain of sole owners in a loop: a handle 200000 elements
    // deep must not take 200000 nested destructor calls with it.
    ~path_link();

    mutable std::shared_ptr<const path_link> parent;
    pugi::xml_node node;
    unsigned position = 0;
};

// "/Chanels/Group[2]/Proto[1]" for an element (the root has no position).
std::string element_path(const std::shared_ptr<const path_link>& link, pugi::xml_node node);

// The place in a message: ` в файле "x.xml"`, or ` в тексте документа`.
std::string where_suffix(const document_state* state);

// Throws EGeneric with "Text" = text and, when not empty, "File" and "Element".
[[noreturn]] void throw_error(const std::string& text, const std::string& file,
                              const std::string& element);

} // namespace xml::detail
