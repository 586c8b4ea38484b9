#include "events/EventCsv.h"

#include "events/EventText.h"

#include <charconv>

namespace events {

namespace {

constexpr char kSeparator = ';';
constexpr char kEmptyField = '\t';
constexpr const char* kLineEnd = "\r\n";
constexpr std::size_t kFlushSize = 64 * 1024;

void AppendUnsigned(std::string& line, unsigned value)
{
    char digits[16];
    const auto result = std::to_chars(digits, digits + sizeof(digits), value);
    line.append(digits, result.ptr);
}

} // namespace

CEventCsvWriter::CEventCsvWriter(std::ostream& out) : m_out(out)
{
    m_buffer.reserve(kFlushSize + 512);
}

CEventCsvWriter::~CEventCsvWriter()
{
    Flush();
}

void CEventCsvWriter::Flush()
{
    if (!m_buffer.empty())
        m_out.write(m_buffer.data(), static_cast<std::streamsize>(m_buffer.size()));
    m_buffer.clear();
}

void CEventCsvWriter::WriteHeader()
{
    for (int column = 0; column < EVENT_COLUMN_COUNT; ++column) {
        if (column > 0)
            m_buffer += kSeparator;
        m_buffer += ColumnHeader(column);
    }
    m_buffer += kLineEnd;
}

const std::string& CEventCsvWriter::Detail(std::uint32_t code)
{
    auto found = m_details.find(code);
    if (found == m_details.end())
        found = m_details.emplace(code, DetailText(code)).first;
    return found->second;
}

void CEventCsvWriter::WriteEvent(const Event& event)
{
    std::string& line = m_buffer;
    line += StatusText(event.status);
    line += kSeparator;
    AppendTimeText(line, event.time);
    line += kSeparator;
    line += DescriptionText(event.description);
    line += kSeparator;
    line += ProtocolText(event.protocol);
    line += kSeparator;
    line += event.senderText;
    line += kSeparator;
    if (event.receiverText[0] == '\0')
        line += kEmptyField;
    else
        line += event.receiverText;
    line += kSeparator;
    AppendUnsigned(line, event.senderPort);
    line += kSeparator;
    if (event.receiverPort == 0)
        line += kEmptyField;
    else
        AppendUnsigned(line, event.receiverPort);
    line += kSeparator;
    line += Detail(event.detail);
    line += kSeparator;
    line += kLineEnd;
    ++m_lines;
    if (line.size() >= kFlushSize)
        Flush();
}

std::size_t WriteEventsCsv(std::ostream& out, int rowCount,
                           const std::function<std::optional<Event>(int row)>& eventAtRow)
{
    CEventCsvWriter writer(out);
    writer.WriteHeader();
    for (int row = 0; row < rowCount; ++row) {
        if (std::optional<Event> event = eventAtRow(row))
            writer.WriteEvent(*event);
    }
    writer.Flush();
    return writer.LinesWritten();
}

} // namespace events
