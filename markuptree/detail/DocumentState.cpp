#include "markuptree/detail/DocumentState.h"

#include "ferrox/exceptions/EGeneric.h"

#include <cstring>
#include <vector>

namespace xml::detail {

namespace {

unsigned count_position(pugi::xml_node node)
{
    unsigned position = 1;
    for (pugi::xml_node s = node.previous_sibling(node.name()); s;
         s = s.previous_sibling(node.name()))
        ++position;
    return position;
}

} // namespace

path_link::~path_link()
{
    std::shared_ptr<const path_link> next = std::move(parent);
    while (next && next.use_count() == 1) {
        // Detach the grandparent first, so that dropping `next` frees one link only.
        std::shared_ptr<const path_link> after = std::move(next->parent);
        next = std::move(after);
    }
}

std::string element_path(const std::shared_ptr<const path_link>& link, pugi::xml_node node)
{
    // Collected leaf first: each step is either a link (position known) or a
    // bare node whose position is counted.
    struct step
    {
        pugi::xml_node node;
        unsigned position;
    };
    std::vector<step> steps;
    const path_link* current = link.get();
    pugi::xml_node n = node;
    while (n && n.type() != pugi::node_document) {
        unsigned position = 0;
        if (current && current->node == n) {
            position = current->position;
            current = current->parent.get();
        }
        steps.push_back({n, position});
        n = n.parent();
    }
    std::string path;
    for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
        path += '/';
        if (it->node.type() != pugi::node_element) {
            path += "text()";
            continue;
        }
        path += it->node.name();
        const bool isRoot = it->node.parent().type() == pugi::node_document;
        if (!isRoot) {
            const unsigned position = it->position ? it->position : count_position(it->node);
            path += '[' + std::to_string(position) + ']';
        }
    }
    return path.empty() ? std::string("/") : path;
}

std::string where_suffix(const document_state* state)
{
    if (state == nullptr || state->file.empty())
        return " в тексте документа";
    return " в файле \"" + state->file + "\"";
}

void throw_error(const std::string& text, const std::string& file, const std::string& element)
{
    // A damaged input file is the user's matter, not a fault of the program:
    // no diagnostic report is written for it (the non-gathering constructor).
    EGeneric error(false);
    error.put_value("Text", text);
    if (!file.empty())
        error.put_value("File", file);
    if (!element.empty())
        error.put_value("Element", element);
    throw error;
}

} // namespace xml::detail
