#include "markuptree/PDocument.h"

#include "markuptree/detail/DocumentState.h"
#include "markuptree/detail/FileIO.h"

#include "ferrox/exceptions/EGeneric.h"
#include "ferrox/strings/Strings.h"

#include <cstring>
#include <new>
#include <vector>

namespace xml {

using detail::document_state;

namespace {

constexpr const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
constexpr const char* kIndent = "  ";

class string_writer final : public pugi::xml_writer
{
public:
    explicit string_writer(std::string& out) : m_out(out) {}
    void write(const void* data, size_t size) override
    {
        m_out.append(static_cast<const char*>(data), size);
    }

private:
    std::string& m_out;
};

// "строка 3, столбец 7" of a byte offset into the parsed text.
std::string line_and_column(const std::string& text, std::ptrdiff_t offset)
{
    if (offset < 0)
        return std::string();
    const std::size_t end = std::min(text.size(), static_cast<std::size_t>(offset));
    std::size_t line = 1;
    std::size_t lineStart = 0;
    for (const char* p = static_cast<const char*>(std::memchr(text.data(), '\n', end)); p;
         p = static_cast<const char*>(
             std::memchr(p + 1, '\n', end - static_cast<std::size_t>(p + 1 - text.data())))) {
        ++line;
        lineStart = static_cast<std::size_t>(p - text.data()) + 1;
        if (lineStart >= end)
            break;
    }
    return "строка " + std::to_string(line) + ", столбец " + std::to_string(end - lineStart + 1);
}

// Parses text into a new state; throws EGeneric naming the source on failure.
std::shared_ptr<document_state> parse(const std::string& text, const std::string& file)
{
    auto state = std::make_shared<document_state>();
    state->file = file;
    // Default parsing: whitespace-only text between elements is dropped, entities
    // and character references are expanded, line ends become "\n".
    const pugi::xml_parse_result result =
        state->doc.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_auto);
    if (!result) {
        std::string reason;
        if (result.status == pugi::status_no_document_element)
            reason = text.empty() ? "документ пуст" : "нет корневого элемента";
        else if (result.status == pugi::status_out_of_memory)
            reason = "недостаточно памяти";
        else
            reason = std::string(result.description()) + " (" +
                     line_and_column(text, result.offset) + ")";
        const std::string source = file.empty() ? "Текст документа" : "Файл \"" + file + "\"";
        detail::throw_error(source + " не является XML-документом: " + reason, file, std::string());
    }
    return state;
}

// Drops whitespace-only text from elements that also hold elements (it would
// double the indentation); walks without recursion, so nesting depth is no risk.
void drop_layout_text(pugi::xml_node root)
{
    pugi::xml_node n = root;
    while (n) {
        if (n.type() == pugi::node_element && n.first_child()) {
            bool hasElement = false;
            for (pugi::xml_node c = n.first_child(); c && !hasElement; c = c.next_sibling())
                hasElement = c.type() == pugi::node_element;
            if (hasElement) {
                for (pugi::xml_node c = n.first_child(); c;) {
                    const pugi::xml_node next = c.next_sibling();
                    if (c.type() == pugi::node_pcdata &&
                        std::strspn(c.value(), " \t\r\n") == std::strlen(c.value()))
                        n.remove_child(c);
                    c = next;
                }
            }
        }
        // Depth-first: down, else right, else up until a right sibling exists.
        if (n.first_child()) {
            n = n.first_child();
            continue;
        }
        while (n && n != root && !n.next_sibling())
            n = n.parent();
        if (!n || n == root)
            break;
        n = n.next_sibling();
    }
}

} // namespace

pdocument::pdocument() : m_state(std::make_shared<document_state>()) {}
pdocument::pdocument(const pdocument&) = default;
pdocument& pdocument::operator=(const pdocument&) = default;
pdocument::~pdocument() = default;

void pdocument::load_xml(const std::string& path)
{
    // Whatever happens, the old tree is gone: handles keep it alive for themselves.
    auto empty = std::make_shared<document_state>();
    empty->file = path;
    m_state = empty;

    std::string data;
    detail::read_result read;
    try {
        read = detail::read_whole_file(path, max_file_size, data);
    } catch (const std::bad_alloc&) {
        detail::throw_error("Недостаточно памяти, чтобы прочитать файл \"" + path + "\"", path,
                            std::string());
    }
    switch (read.status) {
    case detail::read_status::ok: break;
    case detail::read_status::system_error: {
        EGeneric error(false);
        error.put_value("Text", "Не удалось прочитать файл \"" + path +
                                    "\": " + detail::system_text(read.error));
        error.put_value("File", path);
        error.put_value("Code", read.error);
        throw error;
    }
    case detail::read_status::not_a_file:
        detail::throw_error("\"" + path + "\" не является обычным файлом", path, std::string());
    case detail::read_status::too_large:
        detail::throw_error("Файл \"" + path + "\" слишком велик: " + std::to_string(read.size) +
                                " байт, допустимо не более " + std::to_string(max_file_size),
                            path, std::string());
    }
    m_state = parse(data, path);
}

void pdocument::put_xml(const std::wstring& text)
{
    put_xml(as_string(const_wstring(text), CP_UTF8));
}

void pdocument::put_xml(const std::string& utf8Text)
{
    m_state = std::make_shared<document_state>();
    m_state = parse(utf8Text, std::string());
}

pnode pdocument::get_root() const
{
    pugi::xml_node root = m_state->doc.document_element();
    if (!root)
        return pnode();
    return pnode(m_state, root, std::make_shared<const detail::path_link>(nullptr, root, 1));
}

void pdocument::normalize_text()
{
    drop_layout_text(m_state->doc);
    m_state->indent = true;
}

std::string pdocument::get_xml() const
{
    std::string text = kDeclaration;
    string_writer writer(text);
    for (pugi::xml_node n = m_state->doc.first_child(); n; n = n.next_sibling()) {
        if (n.type() == pugi::node_declaration)
            continue; // the one declaration written above stands for it
        if (m_state->indent) {
            n.print(writer, kIndent, pugi::format_indent, pugi::encoding_utf8);
        } else {
            n.print(writer, "", pugi::format_raw | pugi::format_no_empty_element_tags,
                    pugi::encoding_utf8);
            text += '\n';
        }
    }
    return text;
}

bool pdocument::save_xml(const std::string& path) const
{
    try {
        return detail::replace_file(path, get_xml()) == 0;
    } catch (...) {
        return false; // out of memory while building the text
    }
}

const std::string& pdocument::file() const
{
    return m_state->file;
}

} // namespace xml
