#include "channel/EventCodes.h"
#include "channel/ProbeMessages.h"
#include "engine/IApp.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>

namespace {

using namespace engine;

TEST(ProbeMessages, RequestCarriesTheWordItsZeroAndPadding)
{
    std::vector<char> ten = channel::BuildRequest(10);
    ASSERT_EQ(ten.size(), 10u);
    EXPECT_EQ(std::string(ten.data(), 9), "tessarium");
    EXPECT_EQ(ten[9], 0);
    std::vector<char> thirty = channel::BuildRequest(30);
    ASSERT_EQ(thirty.size(), 30u);
    EXPECT_TRUE(std::all_of(thirty.begin() + 9, thirty.end(), [](char c) { return c == 0; }));
    std::vector<char> reply = channel::BuildReply();
    EXPECT_EQ(std::string(reply.data(), reply.size()), std::string("+essarium\0", 10));
}

TEST(ProbeMessages, ProbeSizesStayWhereAWordFitsAndADatagramCarries)
{
    // Below 10 the word would be cut: datagrams never go below 10 bytes.
    EXPECT_EQ(channel::DatagramProbeSize(5), 10u);
    EXPECT_EQ(channel::DatagramProbeSize(-3), 10u);
    EXPECT_EQ(channel::DatagramProbeSize(1024), 1024u);
    EXPECT_EQ(channel::DatagramProbeSize(1 << 30), channel::MaxProbeSize);
    // An empty TCP probe would count an empty echo as a reply.
    EXPECT_EQ(channel::TcpProbeSize(0), 1u);
    EXPECT_EQ(channel::TcpProbeSize(10), 10u);
    EXPECT_EQ(channel::TcpProbeSize(1 << 30), channel::MaxProbeSize);
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
    EXPECT_EQ(channel::Ipv4PayloadOffset(plain.data(), plain.size()), 20u);
    auto withOptions = Datagram(6, "tessarium");
    EXPECT_EQ(channel::Ipv4PayloadOffset(withOptions.data(), withOptions.size()), 24u);
    auto biggest = Datagram(15, "x");
    EXPECT_EQ(channel::Ipv4PayloadOffset(biggest.data(), biggest.size()), 60u);

    // Not a usable IPv4 header: no payload at all, never a read past the end.
    auto shortHeader = Datagram(5, "");
    shortHeader[0] = 0x44;
    EXPECT_EQ(channel::Ipv4PayloadOffset(shortHeader.data(), shortHeader.size()),
              shortHeader.size());
    auto version6 = Datagram(5, "tessarium");
    version6[0] = 0x65;
    EXPECT_EQ(channel::Ipv4PayloadOffset(version6.data(), version6.size()), version6.size());
    auto cut = Datagram(8, "");
    cut.resize(25);
    EXPECT_EQ(channel::Ipv4PayloadOffset(cut.data(), cut.size()), cut.size());
    EXPECT_EQ(channel::Ipv4PayloadOffset(nullptr, 0), 0u);
}

TEST(ProbeMessages, WordIsLookedForUpToTheFirstZero)
{
    const std::string inside("ab tessarium\0rest", 17);
    EXPECT_TRUE(channel::PayloadHasWord(inside.data(), inside.size(), channel::ProbeWord));
    const std::string hidden("\0tessarium", 10);
    EXPECT_FALSE(channel::PayloadHasWord(hidden.data(), hidden.size(), channel::ProbeWord));
    const std::string reply("+essarium", 9); // no zero at all: the whole payload
    EXPECT_TRUE(channel::PayloadHasWord(reply.data(), reply.size(), channel::ReplyWord));
    EXPECT_FALSE(channel::PayloadHasWord(reply.data(), reply.size(), channel::ProbeWord));
    EXPECT_FALSE(channel::PayloadHasWord(reply.data(), 4, channel::ReplyWord));
}

TEST(ProbeMessages, RawDatagramIsAnsweredOrCountedByTheWordInItsPayload)
{
    const std::string request(channel::BuildRequest(30).data(), 30);
    const std::vector<char> replyBytes = channel::BuildReply();
    const std::string reply(replyBytes.data(), replyBytes.size());
    auto plain = Datagram(5, request);
    EXPECT_TRUE(channel::RawDatagramHasWord(plain.data(), plain.size(), channel::ProbeWord));
    EXPECT_FALSE(channel::RawDatagramHasWord(plain.data(), plain.size(), channel::ReplyWord));
    auto answer = Datagram(5, reply);
    EXPECT_TRUE(channel::RawDatagramHasWord(answer.data(), answer.size(), channel::ReplyWord));
    EXPECT_FALSE(channel::RawDatagramHasWord(answer.data(), answer.size(), channel::ProbeWord));
    // Options move the payload: the word is still found, and the header's
    // bytes never count as payload.
    auto withOptions = Datagram(7, reply);
    EXPECT_TRUE(
        channel::RawDatagramHasWord(withOptions.data(), withOptions.size(), channel::ReplyWord));
    auto wordInHeader = Datagram(15, "");
    std::memcpy(wordInHeader.data() + 24, "tessarium", 10);
    EXPECT_FALSE(
        channel::RawDatagramHasWord(wordInHeader.data(), wordInHeader.size(), channel::ProbeWord));
    auto hidden = Datagram(5, std::string("\0tessarium\0", 11));
    EXPECT_FALSE(channel::RawDatagramHasWord(hidden.data(), hidden.size(), channel::ProbeWord));
    EXPECT_FALSE(channel::RawDatagramHasWord(nullptr, 40, channel::ProbeWord));
    auto cut = Datagram(5, request);
    EXPECT_FALSE(channel::RawDatagramHasWord(cut.data(), 28, channel::ProbeWord));

    // Regression (found by fuzzing): a payload of the 9 letters alone, 29 bytes
    // with the header, was answered with 30 bytes. A payload too short for the
    // word and its zero byte is neither a probe nor a reply.
    auto bare = Datagram(5, "tessarium");
    EXPECT_FALSE(channel::RawDatagramHasWord(bare.data(), bare.size(), channel::ProbeWord));
    auto bareReply = Datagram(5, "+essarium");
    EXPECT_FALSE(
        channel::RawDatagramHasWord(bareReply.data(), bareReply.size(), channel::ReplyWord));
    auto spaced = Datagram(5, "tessarium!");
    EXPECT_TRUE(channel::RawDatagramHasWord(spaced.data(), spaced.size(), channel::ProbeWord));
    EXPECT_GE(spaced.size(), 20 + channel::BuildReply().size());
}

TEST(EventCodes, TextsAndTheStatusRule)
{
    EXPECT_EQ(channel::EventCodeText(6), channel::EventCodeText(13));
    EXPECT_EQ(channel::EventCodeText(13), L"Попытка подключения");
    EXPECT_EQ(channel::EventCodeText(0), L"");
    EXPECT_EQ(channel::EventCodeText(15), L"???");
    EXPECT_EQ(channel::EventCodeText(-1), L"???");
    EXPECT_EQ(channel::EventCodeStatus(channel::EC_NO_PROTOCOL), channel::STATUS_INFORMATION)
        << "12 is information although a failure";
    for (int code : {2, 3, 7, 8, 9})
        EXPECT_EQ(channel::EventCodeStatus(code), channel::STATUS_WARNING) << code;
    EXPECT_EQ(channel::EventCodeStatus(14), channel::STATUS_ERROR);
    EXPECT_EQ(channel::EventCodeStatus(99), channel::STATUS_INFORMATION);
}

TEST(EventCodes, ProtocolNamesMatchExactly)
{
    EXPECT_EQ(channel::ProtocolFromName(L"UDP"), 2);
    EXPECT_EQ(channel::ProtocolFromName(L"udp"), 0);
    EXPECT_EQ(channel::ProtocolFromName(L"IP "), 0);
    EXPECT_EQ(channel::ProtocolName(3), L"IP");
    EXPECT_EQ(channel::ProtocolName(0), L"");
    EXPECT_EQ(channel::ProtocolNameNarrow(1), "TCP");
}

TEST(EventCodes, PairTextAddressTextAndErrorText)
{
    const std::wstring pair = channel::ChannelPairText(L"Узел А", L"Узел Б");
    EXPECT_EQ(pair, L"Узел А <-> Узел Б");
    EXPECT_EQ(channel::SplitChannelPair(pair),
              std::make_pair(std::wstring(L"Узел А"), std::wstring(L"Узел Б")));
    EXPECT_EQ(channel::SplitChannelPair(L"a <-> b <-> c").second, L"b <-> c")
        << "split at the first separator";

    in_addr address{};
    ::inet_pton(AF_INET, "10.1.2.254", &address);
    EXPECT_EQ(channel::AddressText(address.s_addr), "10.1.2.254");

    EXPECT_FALSE(channel::SystemErrorText(10048, false).empty());
    EXPECT_EQ(channel::SystemErrorText(10048, true).rfind(L"10048: ", 0), 0u);
    EXPECT_EQ(channel::SystemErrorText(987654, false), L"");
    EXPECT_EQ(channel::SystemErrorText(987654, true), L"987654: ");
    EXPECT_EQ(channel::WideFromNarrow("узел"), L"узел");
}

} // namespace
