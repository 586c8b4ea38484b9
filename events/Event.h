#pragma once

// The record of one report of the channel check. Fixed size, no heap: a store
// of a million events is one block of records, and a record is copied freely
// (72 bytes) wherever it has to cross a thread.
//
// Threads: an Event is a plain value and never changes after it was made.
// NextEventSequence and LocalFileTimeNow may be called from any thread.

#include <cstdint>

namespace events {

// Room for a dotted IPv4 text and its terminating zero.
inline constexpr int EVENT_ADDRESS_TEXT_SIZE = 16;

struct Event
{
    std::int32_t status = 0;      // channel::EventStatus
    std::int32_t description = 0; // engine::EventCode, 0..14
    std::int32_t protocol = 0;    // 1 TCP, 2 UDP, 3 IP
    char senderText[EVENT_ADDRESS_TEXT_SIZE] = {};
    char receiverText[EVENT_ADDRESS_TEXT_SIZE] = {}; // "" when there is no receiver
    std::uint32_t senderAddress = 0;   // AddressOfText(senderText), network byte order
    std::uint32_t receiverAddress = 0; // AddressOfText(receiverText); 0 when there is none
    std::uint16_t senderPort = 0;
    std::uint16_t receiverPort = 0; // 0 when there is none
    // Local wall-clock time of creation as a FILETIME: 100 ns units since
    // 1601-01-01 00:00 local time, whole milliseconds (what GetLocalTime gives).
    std::uint64_t time = 0;
    std::uint32_t detail = 0;   // system error code that explains the event; 0: none
    std::uint32_t sequence = 0; // process-wide creation number, from 0
};

static_assert(sizeof(Event) == 72, "events are kept by the million: keep the record compact");

// The next value of the process-wide event counter (0, 1, 2, ...).
std::uint32_t NextEventSequence();

// The current local wall-clock time as a FILETIME value in whole milliseconds.
std::uint64_t LocalFileTimeNow();

// The address of the text as channel::ParseAddress reads it (decimal numbers,
// never octal or hex); an empty or absent text gives 0 ("no address"), text
// that is not an address 0xFFFFFFFF (INADDR_NONE).
std::uint32_t AddressOfText(const char* text);

// Copies text into a 16-character field: at most 15 characters and the zero
// (an over-long text is cut rather than overrunning the field).
void CopyAddressText(char (&field)[EVENT_ADDRESS_TEXT_SIZE], const char* text);

// A complete record with the current time; the sequence number is left to the
// store, which draws it under its own lock so that sequence and index agree.
Event MakeEvent(int status, int code, std::uint32_t detail, int protocol, const char* senderText,
                const char* receiverText, std::uint16_t senderPort, std::uint16_t receiverPort);

} // namespace events
