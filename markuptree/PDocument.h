#pragma once

#include "markuptree/MarkupTreeApi.h"
#include "markuptree/PNode.h"

#include <cstddef>
#include <memory>
#include <string>

namespace xml {

// An XML document. Copies share the same document, like the interface pointer
// whose name it carries; loading or putting new text gives the document a new
// tree, and handles into the old tree keep that one alive.
//
// Text is UTF-8 on disk and in put_xml(std::string); wide strings are UTF-32.
// Whitespace-only text between elements is dropped on reading. Saving writes
// the declaration <?xml version="1.0" encoding="UTF-8"?>, a line feed, and each
// top-level node followed by a line feed; the nodes are written as they are
// (empty elements as <a></a>) until normalize_text() asks for one element per
// line, indented by two blanks per level.
//
// Failures of the library itself (a file that cannot be read, text that is not
// XML, a missing attribute or element where a value is read, a value that is
// not an integer) throw EGeneric with "Text" saying what and where; "File" and
// "Element" carry the file and the element path where they apply. No input
// makes it crash: files are size-checked and read whole, the parser and every
// walk over the tree are iterative.
//
// Threads: one thread at a time per document (and its handles).
class MARKUPTREE_API pdocument
{
public:
    // The largest file load_xml reads, in bytes.
    static constexpr std::size_t max_file_size = 256u * 1024u * 1024u;

    // An empty document: no root until text is loaded or put.
    pdocument();
    pdocument(const pdocument&);
    pdocument& operator=(const pdocument&);
    ~pdocument();

    // Reads and parses a file. On failure throws EGeneric and the document is
    // left empty (no root).
    void load_xml(const std::string& path);
    // Parses text; on failure throws EGeneric and leaves the document empty.
    void put_xml(const std::wstring& text);
    void put_xml(const std::string& utf8Text);

    // The document element; an invalid handle when the document has none.
    pnode get_root() const;

    // Lays the text out for people: one element per line, indented. Text inside
    // elements that hold only text is kept as it is.
    void normalize_text();

    // Writes the document to the file (through a temporary file in the same
    // folder that then replaces it, so a failed save leaves the old file
    // whole). Returns false when it could not be written; never throws.
    bool save_xml(const std::string& path) const;
    // The text save_xml writes.
    std::string get_xml() const;

    // The file the document was loaded from ("" for put text).
    const std::string& file() const;

private:
    std::shared_ptr<detail::document_state> m_state;
};

} // namespace xml
