#include "engine/EventCodes.h"
#include "engine/IApp.h"
#include "engine/ProbeMessages.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>

namespace {

using namespace engine;

TEST(ProbeMessages, RequestCarriesTheWordItsZeroAndPadding)
{
    std::vector<char> ten = BuildRequest(10);
    ASSERT_EQ(ten.size(), 10u);
    EXPECT_EQ(std::string(ten.data(), 9), "tessarium");
    EXPECT_EQ(ten[9], 0);
    std::vector<char> thirty = BuildRequest(30);
    ASSERT_EQ(thirty.size(), 30u);
    EXPECT_TRUE(std::all_of(thirty.begin() + 9, thirty.end(), [](char c) { return c == 0; }));
    std::vector<char> reply = BuildReply();
    EXPECT_EQ(std::string(reply.data(), reply.size()), std::string("+essarium\0", 10));
}

TEST(ProbeMessages, ProbeSizesStayWhereAWordFitsAndADatagramCarries)
{
    // Below 10 the word would be cut: datagrams never go below 10 bytes.
    EXPECT_EQ(DatagramProbeSize(5), 10u);
    EXPECT_EQ(DatagramProbeSize(-3), 10u);
    EXPECT_EQ(DatagramProbeSize(1024), 1024u);
    EXPECT_EQ(DatagramProbeSize(1 << 30), MaxProbeSize);
    // An empty TCP probe would count an empty echo as a reply.
    EXPECT_EQ(TcpProbeSize(0), 1u);
    EXPECT_EQ(TcpProbeSize(10), 10u);
    EXPECT_EQ(TcpProbeSize(1 << 30), MaxProbeSize);
}

std::vector<unsigned char> Datagram(int headerWords, const std::string& payload)
{
    std::vector<unsigned char> d(static_cast<std::size_t>(headerWords) * 4, 0);
    d[0] = static_cast<unsigned char>(0x40 | headerWords);
    d.insert(d.end(), payload.begin(), payload.end());
    return d;
}

TEST(ProbeMessages, PayloadStartsWhereTheHeaderSays)
{
    auto plain = Datagram(5, "tessarium");
    EXPECT_EQ(Ipv4PayloadOffset(plain.data(), plain.size()), 20u);
    auto withOptions = Datagram(6, "tessarium");
    EXPECT_EQ(Ipv4PayloadOffset(withOptions.data(), withOptions.size()), 24u);
    auto biggest = Datagram(15, "x");
    EXPECT_EQ(Ipv4PayloadOffset(biggest.data(), biggest.size()), 60u);

    // Not a usable IPv4 header: no payload at all, never a read past the end.
    auto shortHeader = Datagram(5, "");
    shortHeader[0] = 0x44;
    EXPECT_EQ(Ipv4PayloadOffset(shortHeader.data(), shortHeader.size()), shortHeader.size());
    auto version6 = Datagram(5, "tessarium");
    version6[0] = 0x65;
    EXPECT_EQ(Ipv4PayloadOffset(version6.data(), version6.size()), version6.size());
    auto cut = Datagram(8, "");
    cut.resize(25);
    EXPECT_EQ(Ipv4PayloadOffset(cut.data(), cut.size()), cut.size());
    EXPECT_EQ(Ipv4PayloadOffset(nullptr, 0), 0u);
}

TEST(ProbeMessages, WordIsLookedForUpToTheFirstZero)
{
    const std::string inside("ab tessarium\0rest", 17);
    EXPECT_TRUE(PayloadHasWord(inside.data(), inside.size(), ProbeWord));
    const std::string hidden("\0tessarium", 10);
    EXPECT_FALSE(PayloadHasWord(hidden.data(), hidden.size(), ProbeWord));
    const std::string reply("+essarium", 9); // no zero at all: the whole payload
    EXPECT_TRUE(PayloadHasWord(reply.data(), reply.size(), ReplyWord));
    EXPECT_FALSE(PayloadHasWord(reply.data(), reply.size(), ProbeWord));
    EXPECT_FALSE(PayloadHasWord(reply.data(), 4, ReplyWord));
}

TEST(EventCodes, TextsAndTheStatusRule)
{
    EXPECT_EQ(EventCodeText(6), EventCodeText(13));
    EXPECT_EQ(EventCodeText(13), L"Попытка подключения");
    EXPECT_EQ(EventCodeText(0), L"");
    EXPECT_EQ(EventCodeText(15), L"???");
    EXPECT_EQ(EventCodeText(-1), L"???");
    EXPECT_EQ(EventCodeStatus(EC_NO_PROTOCOL), STATUS_INFORMATION)
        << "12 is information although a failure";
    for (int code : {2, 3, 7, 8, 9})
        EXPECT_EQ(EventCodeStatus(code), STATUS_WARNING) << code;
    EXPECT_EQ(EventCodeStatus(14), STATUS_ERROR);
    EXPECT_EQ(EventCodeStatus(99), STATUS_INFORMATION);
}

TEST(EventCodes, ProtocolNamesMatchExactly)
{
    EXPECT_EQ(ProtocolFromName(L"UDP"), 2);
    EXPECT_EQ(ProtocolFromName(L"udp"), 0);
    EXPECT_EQ(ProtocolFromName(L"IP "), 0);
    EXPECT_EQ(ProtocolName(3), L"IP");
    EXPECT_EQ(ProtocolName(0), L"");
    EXPECT_EQ(ProtocolNameNarrow(1), "TCP");
}

TEST(EventCodes, PairTextAddressTextAndErrorText)
{
    const std::wstring pair = ChannelPairText(L"Узел А", L"Узел Б");
    EXPECT_EQ(pair, L"Узел А <-> Узел Б");
    EXPECT_EQ(SplitChannelPair(pair),
              std::make_pair(std::wstring(L"Узел А"), std::wstring(L"Узел Б")));
    EXPECT_EQ(SplitChannelPair(L"a <-> b <-> c").second, L"b <-> c")
        << "split at the first separator";

    in_addr address{};
    ::inet_pton(AF_INET, "10.1.2.254", &address);
    EXPECT_EQ(AddressText(address.s_addr), "10.1.2.254");

    EXPECT_FALSE(SystemErrorText(10048, false).empty());
    EXPECT_EQ(SystemErrorText(10048, true).rfind(L"10048: ", 0), 0u);
    EXPECT_EQ(SystemErrorText(987654, false), L"");
    EXPECT_EQ(SystemErrorText(987654, true), L"987654: ");
    EXPECT_EQ(WideFromNarrow("узел"), L"узел");
}

} // namespace
