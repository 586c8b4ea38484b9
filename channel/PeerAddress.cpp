#include "channel/PeerAddress.h"

#include <cstdio>
#include <cstring>

namespace channel {

bool ParseAddress(PeerAddress& record, const char* text)
{
    record = PeerAddress{};
    if (text == nullptr)
        return false;
    const std::size_t length = std::strlen(text);
    if (length == 0 || length >= sizeof record.text)
        return false;

    std::uint8_t numbers[4] = {};
    int part = 0;
    std::size_t digits = 0;
    unsigned value = 0;
    for (std::size_t i = 0; i <= length; ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            value = (value * 10 + static_cast<unsigned>(c - '0')) & 0xFFFFu; // low bits survive
            ++digits;
            continue;
        }
        if ((c != '.' && c != '\0') || digits == 0 || part == 4)
            return false;
        numbers[part++] = static_cast<std::uint8_t>(value & 0xFFu);
        value = 0;
        digits = 0;
    }
    if (part != 4)
        return false;

    std::memcpy(&record.address, numbers, sizeof numbers); // first number at the lowest address
    std::memcpy(record.text, text, length + 1);
    return true;
}

bool ReadPlainAddress(const std::string& text, std::uint32_t& address)
{
    PeerAddress record;
    if (text.size() >= sizeof record.text || !ParseAddress(record, text.c_str()))
        return false;
    // Plain when the text is the address's own spelling: that rules out
    // numbers above 255 and leading zeros, and (comparing the whole string)
    // anything after a zero byte.
    const auto* b = reinterpret_cast<const unsigned char*>(&record.address);
    char spelling[sizeof record.text];
    std::snprintf(spelling, sizeof spelling, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    if (text != spelling)
        return false;
    address = record.address;
    return true;
}

} // namespace channel
