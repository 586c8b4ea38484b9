// What the raw IP server and client do with a datagram they read (IPv4 header,
// then payload): find the payload where the header's length field puts it and
// look for the word in its text up to the first zero byte. The function under
// test is the one both call; it is compared with a plain restatement of that
// rule, for the probe word (server) and the reply word (client), so that a
// datagram is answered exactly when it carries the probe word and counted
// exactly when it carries the reply word; and that no answer is larger than
// the datagram it answers.

#include "channel/ProbeMessages.h"

#include "fuzz/support/FuzzCheck.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

bool Expected(const std::uint8_t* data, std::size_t size, std::string_view word)
{
    if (size < 20 || (data[0] >> 4) != 4)
        return false;
    const std::size_t header = static_cast<std::size_t>(data[0] & 0x0F) * 4;
    if (header < 20 || header > size || size - header < word.size() + 1)
        return false;
    std::string_view text;
    for (std::size_t i = header; i < size && data[i] != 0; ++i)
        text = std::string_view(reinterpret_cast<const char*>(data) + header, i - header + 1);
    return text.find(word) != std::string_view::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    for (std::string_view word : {channel::ProbeWord, channel::ReplyWord}) {
        const bool found = channel::RawDatagramHasWord(data, size, word);
        FUZZ_CHECK(found == Expected(data, size, word));
    }
    // The server answers a probe with a header of its own (at least 20 bytes)
    // and the reply word: never more than the request it answers.
    if (channel::RawDatagramHasWord(data, size, channel::ProbeWord))
        FUZZ_CHECK(20 + channel::BuildReply().size() <= size);
    return 0;
}
