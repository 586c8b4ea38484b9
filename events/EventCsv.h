#pragma once

// The CSV export of the event log: semicolon-separated UTF-8 text with CR LF
// line ends, written by the events pane's save command and by the headless
// front end alike.
//
// Format
// - First line: the nine column headers, each followed by ";" except the last,
//   then "\r\n".
// - One line per shown row, in display order: status, time, description,
//   protocol, sender, receiver, sender port, receiver port, detail, each
//   followed by ";" (so a line ends with ";\r\n"). An empty receiver text is
//   written as one tab character, and so is a receiver port of 0; the detail is
//   "%u: %s" for every code, 0 included, and empty when the system has no text
//   for the code.
//
// Threads: any; the writer keeps its own small cache of detail texts.

#include "events/Event.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <unordered_map>

namespace events {

class CEventCsvWriter final
{
public:
    explicit CEventCsvWriter(std::ostream& out);
    // Flushes what is still buffered.
    ~CEventCsvWriter();
    CEventCsvWriter(const CEventCsvWriter&) = delete;
    CEventCsvWriter& operator=(const CEventCsvWriter&) = delete;

    void WriteHeader();
    void WriteEvent(const Event& event);
    // Hands the buffered lines to the stream.
    void Flush();
    std::size_t LinesWritten() const { return m_lines; }

private:
    const std::string& Detail(std::uint32_t code);

    std::ostream& m_out;
    std::string m_buffer; // lines not yet written, up to about 64 KiB
    std::unordered_map<std::uint32_t, std::string> m_details; // code -> detail text
    std::size_t m_lines = 0;
};

// The whole file: the header, then eventAtRow(0 .. rowCount-1) in order; a row
// without an event (the store shrank meanwhile) is left out. Returns the number
// of data lines written. Whether the stream failed is the caller's to check.
std::size_t WriteEventsCsv(std::ostream& out, int rowCount,
                           const std::function<std::optional<Event>(int row)>& eventAtRow);

} // namespace events
