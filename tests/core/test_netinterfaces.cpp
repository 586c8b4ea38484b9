// Local addresses: the dotted-text parser, the adapter list as the system
// reports it (checked on the host and inside a network namespace built for the
// purpose), and the failure paths through an injected interface source.

#include "channel/PeerAddress.h"
#include "core/CNetInterfaces.h"

#include "support/NetNamespaces.h"

#include "ferrox/debug/DebugStream.h"

#include <gtest/gtest.h>

#include "support/TestFiles.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <net/if.h>
#include <netinet/in.h>
#include <new>
#include <set>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace {

using namespace testsupport;

std::uint32_t Ip(const char* text)
{
    in_addr raw{};
    inet_pton(AF_INET, text, &raw);
    return raw.s_addr;
}

std::vector<std::string> Texts(const std::vector<channel::PeerAddress>& list)
{
    std::vector<std::string> texts;
    for (const channel::PeerAddress& a : list)
        texts.push_back(a.text);
    return texts;
}

// A prepared answer in place of the system's.
class FakeSource final : public core::IInterfaceSource
{
public:
    int result = 0;
    bool throwBadAlloc = false;
    std::vector<core::InterfaceAddress> addresses;

    void Add(const char* name, unsigned index, unsigned flags, int family, const char* ip = nullptr)
    {
        addresses.push_back({name, index, flags, family, ip ? Ip(ip) : 0u});
    }
    int QueryAddresses(std::vector<core::InterfaceAddress>& out) override
    {
        if (throwBadAlloc)
            throw std::bad_alloc();
        out = addresses;
        return result;
    }
};

constexpr unsigned kUp = IFF_UP | IFF_RUNNING;

} // namespace

TEST(ParseAddress, DottedTextBecomesNetworkOrderBytes)
{
    channel::PeerAddress a;
    ASSERT_TRUE(channel::ParseAddress(a, "10.20.30.40"));
    EXPECT_EQ(a.address, Ip("10.20.30.40"));
    EXPECT_STREQ(a.text, "10.20.30.40");
    EXPECT_EQ(channel::AddressNumber(a, 0), 10);
    EXPECT_EQ(channel::AddressNumber(a, 3), 40);

    ASSERT_TRUE(channel::ParseAddress(a, "255.255.255.255"));
    EXPECT_EQ(a.address, 0xFFFFFFFFu);
    ASSERT_TRUE(channel::ParseAddress(a, "000.001.002.003"));
    EXPECT_EQ(a.address, Ip("0.1.2.3"));
    EXPECT_STREQ(a.text, "000.001.002.003") << "the text is kept as given";
}

TEST(ParseAddress, PartsAbove255KeepTheirLowByte)
{
    channel::PeerAddress a;
    ASSERT_TRUE(channel::ParseAddress(a, "300.1.1.1"));
    EXPECT_EQ(a.address, Ip("44.1.1.1"));
    EXPECT_STREQ(a.text, "300.1.1.1");
    ASSERT_TRUE(channel::ParseAddress(a, "1.2.3.65792")); // 65792 = 0x10100
    EXPECT_EQ(channel::AddressNumber(a, 3), 0);
}

TEST(ParseAddress, AnythingButFourDecimalPartsIsRefused)
{
    for (const char* text : {"10.0.0", "", "a.b.c.d", "1.2.3.4.5", "1..2.3", ".1.2.3", "1.2.3.",
                             " 1.2.3.4", "1.2.3.4 ", "-1.2.3.4", "+1.2.3.4", "1.2.3.4x",
                             "0x7f.0.0.1", "1.2.3.\xd0\xb0", "0001.0002.0003.0004"}) {
        channel::PeerAddress a;
        channel::ParseAddress(a, "9.9.9.9"); // something to overwrite
        EXPECT_FALSE(channel::ParseAddress(a, text)) << '"' << text << '"';
        EXPECT_EQ(a.address, 0u) << text;
        EXPECT_STREQ(a.text, "") << text;
    }
    channel::PeerAddress a;
    EXPECT_FALSE(channel::ParseAddress(a, nullptr));
}

TEST(ParseAddress, RecordsAreEqualWhenTheirAddressesAre)
{
    channel::PeerAddress a, b, c;
    channel::ParseAddress(a, "10.0.0.1");
    channel::ParseAddress(b, "010.000.000.001");
    channel::ParseAddress(c, "10.0.0.2");
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a == c);
    EXPECT_TRUE(a != c);
}

TEST(NetInterfaces, ServerListIsExactlyTheAnyAddress)
{
    core::CNetInterfaces interfaces;
    ASSERT_EQ(interfaces.ServerAddresses().size(), 1u);
    EXPECT_EQ(interfaces.ServerAddresses()[0].address, 0u);
    EXPECT_STREQ(interfaces.ServerAddresses()[0].text, "");
}

TEST(NetInterfaces, HostListMatchesTheSystemsUpNonLoopbackAddresses)
{
    // What `ip` reports for interfaces that are up, without loopback ones, in
    // its order (interface index, then the interface's own order).
    std::vector<std::string> expected;
    std::istringstream lines(testsupport::CommandOutput("ip -o -4 addr show up"));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string index, device, family, cidr;
        words >> index >> device >> family >> cidr;
        const std::string flags =
            testsupport::CommandOutput("ip -o link show dev " + device.substr(0, device.find('@')));
        if (flags.find("LOOPBACK") != std::string::npos)
            continue;
        expected.push_back(cidr.substr(0, cidr.find('/')));
    }
    StreamCapture error(Error);
    core::CNetInterfaces interfaces;
    const std::vector<channel::PeerAddress>& list = interfaces.AdapterAddresses();
    if (expected.empty()) {
        ASSERT_EQ(list.size(), 1u);
        EXPECT_STREQ(list[0].text, "");
        EXPECT_EQ(error.Text(), "GetAdaptersInfo завершилась с кодом ошибки: 232\n");
    } else {
        EXPECT_EQ(Texts(list), expected);
        EXPECT_EQ(error.Text(), "");
    }
    for (const channel::PeerAddress& a : list)
        EXPECT_NE(channel::AddressNumber(a, 0), 127) << a.text << ": loopback is never listed";
}

TEST(NetInterfaces, NamespaceAdaptersComeInIndexOrderWithLabelledAddressesInside)
{
    KANALIKO_SKIP_UNLESS_NAMESPACES();
    // One namespace: kb created before ka (so kb has the lower index though its
    // name sorts later), each with two addresses, the second of kb under the
    // label kb:1; kc holds an address but is down; lo is up.
    testsupport::TestNamespaces net;
    const std::string ns = net.Add("ifs");
    for (const char* command : {
             "ip link add kb type veth peer name kb-p",
             "ip link add ka type veth peer name ka-p",
             "ip link add kc type veth peer name kc-p",
             "ip addr add 198.18.7.9/24 dev kb",
             "ip addr add 198.18.7.3/24 dev kb label kb:1",
             "ip addr add 198.18.8.1/24 dev ka",
             "ip addr add 198.18.9.1/24 dev ka",
             "ip addr add 198.18.10.1/24 dev kc",
             "ip link set kb up",
             "ip link set kb-p up",
             "ip link set ka up",
             "ip link set ka-p up",
         })
        ASSERT_EQ(net.Exec(ns, command), 0) << command;

    std::vector<std::string> texts;
    StreamCapture error(Error);
    {
        testsupport::ScopedNetns inside(ns);
        core::CNetInterfaces interfaces;
        texts = Texts(interfaces.AdapterAddresses());
    }
    EXPECT_EQ(texts,
              (std::vector<std::string>{"198.18.7.9", "198.18.7.3", "198.18.8.1", "198.18.9.1"}));
    EXPECT_EQ(error.Text(), "");
}

TEST(NetInterfaces, MachineWithoutAdaptersReportsNoDataAndListsTheAnyAddress)
{
    KANALIKO_SKIP_UNLESS_NAMESPACES();
    testsupport::TestNamespaces net;
    const std::string ns = net.Add("bare"); // loopback only
    StreamCapture error(Error);
    std::vector<channel::PeerAddress> list;
    {
        testsupport::ScopedNetns inside(ns);
        core::CNetInterfaces interfaces;
        list = interfaces.AdapterAddresses();
    }
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].address, 0u);
    EXPECT_STREQ(list[0].text, "");
    EXPECT_EQ(error.Text(), "GetAdaptersInfo завершилась с кодом ошибки: 232\n");
}

TEST(NetInterfaces, ReportedListIsFilteredAndGroupedByInterface)
{
    FakeSource source;
    source.Add("lo", 1, kUp | IFF_LOOPBACK, AF_PACKET);
    source.Add("eth0", 2, kUp, AF_PACKET);
    source.Add("eth1", 3, kUp, AF_PACKET);
    source.Add("lo", 1, kUp | IFF_LOOPBACK, AF_INET, "127.0.0.1");
    source.Add("eth1", 3, kUp, AF_INET, "10.1.0.1");
    source.Add("eth0", 2, kUp, AF_INET, "10.0.0.1");
    source.Add("eth2", 4, IFF_RUNNING, AF_INET, "10.2.0.1"); // down
    source.Add("eth0:1", 2, kUp, AF_INET, "10.0.0.2");
    source.Add("ghost", 0, kUp, AF_INET, "10.9.9.9"); // gone meanwhile: index unknown
    source.Add("eth1", 3, kUp, AF_INET, "10.1.0.2");
    source.Add("eth0", 2, kUp, AF_INET6);
    StreamCapture error(Error);
    core::CNetInterfaces interfaces(source);
    EXPECT_EQ(
        Texts(interfaces.AdapterAddresses()),
        (std::vector<std::string>{"10.0.0.1", "10.0.0.2", "10.1.0.1", "10.1.0.2", "10.9.9.9"}));
    EXPECT_EQ(interfaces.AdapterAddresses()[2].address, Ip("10.1.0.1"));
    EXPECT_EQ(error.Text(), "");
}

TEST(NetInterfaces, FailedQueryReportsItsCodeAndListsTheAnyAddress)
{
    FakeSource source;
    source.result = EACCES;
    source.Add("eth0", 2, kUp, AF_INET, "10.0.0.1"); // ignored: the query failed
    StreamCapture error(Error);
    core::CNetInterfaces interfaces(source);
    ASSERT_EQ(interfaces.AdapterAddresses().size(), 1u);
    EXPECT_EQ(interfaces.AdapterAddresses()[0].address, 0u);
    EXPECT_STREQ(interfaces.AdapterAddresses()[0].text, "");
    EXPECT_EQ(error.Text(),
              "GetAdaptersInfo завершилась с кодом ошибки: " + std::to_string(EACCES) + "\n");
    EXPECT_EQ(interfaces.ServerAddresses().size(), 1u);
}

TEST(NetInterfaces, MemoryFailureReportsItAndLeavesTheListEmpty)
{
    for (bool thrown : {false, true}) {
        SCOPED_TRACE(thrown ? "bad_alloc thrown" : "ENOMEM returned");
        FakeSource source;
        source.result = ENOMEM;
        source.throwBadAlloc = thrown;
        StreamCapture error(Error);
        core::CNetInterfaces interfaces(source);
        EXPECT_TRUE(interfaces.AdapterAddresses().empty());
        EXPECT_EQ(error.Text(), "Не удалось выделить память для вызова GetAdaptersinfo\n");
        EXPECT_EQ(interfaces.ServerAddresses().size(), 1u);
    }
}
