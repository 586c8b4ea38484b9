#include "core/AddressList.h"

#include "channel/PeerAddress.h"

namespace core {

namespace {
constexpr std::uint32_t kNoAddress = 0xFFFFFFFFu; // 255.255.255.255
} // namespace

bool IsValidListAddress(const std::string& piece, std::uint32_t& address)
{
    std::uint32_t read = 0;
    if (!channel::ReadPlainAddress(piece, read) || read == kNoAddress)
        return false;
    address = read;
    return true;
}

bool IsValidListAddress(const std::string& piece)
{
    std::uint32_t ignored = 0;
    return IsValidListAddress(piece, ignored);
}

AddressList ParseAddressList(const std::string& text)
{
    AddressList list;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find_first_of("; ", start);
        const std::size_t stop = end == std::string::npos ? text.size() : end;
        if (stop > start) {
            std::string piece = text.substr(start, stop - start);
            (IsValidListAddress(piece) ? list.addresses : list.refused).push_back(std::move(piece));
        }
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return list;
}

std::string AddressErrorText(const std::string& piece)
{
    return "Адрес " + piece + " содержит ошибку";
}

} // namespace core
