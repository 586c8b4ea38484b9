// The channel scheme file as a user and the program's other parts see it: what
// a file read leaves in memory (groups and port lists), what a write puts on
// disk, and how the in-memory scheme is replaced.

#include "core/CXmlSettings.h"

#include "ferrox/debug/DebugStream.h"
#include "ferrox/exceptions/EGeneric.h"

#include <gtest/gtest.h>

#include "support/TestFiles.h"
#include <pugixml.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using namespace testsupport;

channel::SchemeGroup Group(const wchar_t* sender, const wchar_t* receiver,
                           std::vector<channel::PortPair> tcp, std::vector<channel::PortPair> udp,
                           std::vector<channel::PortPair> ip)
{
    channel::SchemeGroup group;
    group.senderName = sender;
    group.receiverName = receiver;
    group.tcpPairs = std::move(tcp);
    group.udpPairs = std::move(udp);
    group.ipPairs = std::move(ip);
    return group;
}

std::vector<channel::SchemeGroup> GroupsOf(const core::CXmlSettings& settings)
{
    std::vector<channel::SchemeGroup> groups;
    for (const auto& group : settings.Groups())
        groups.push_back(*group);
    return groups;
}

// A scheme as a person might write it: protocols out of order, a missing clPort.
const std::string kHandWritten = R"(<?xml version="1.0" encoding="UTF-8"?>
<Chanels>
  <Group senderName="Узел А" receiverName="Node B">
    <Proto name="UDP">
      <Port srvPort="47001" clPort="47002"/>
      <Port srvPort="47011"/>
      <Port srvPort="47021" clPort="47022"/>
    </Proto>
    <Proto name="TCP">
      <Port srvPort="46001" clPort="0"/>
      <Port srvPort="46002" clPort="46102"/>
    </Proto>
  </Group>
  <Group senderName="Узел Б" receiverName="Узел А">
    <Proto name="IP"><Port srvPort="253" clPort="0"/></Proto>
    <Proto name="TCP"><Port srvPort="46003"/></Proto>
  </Group>
</Chanels>
)";

} // namespace

TEST(SchemeFile, NewSettingsHoldTheConstructionValues)
{
    core::CXmlSettings settings;
    EXPECT_EQ(settings.SchemePath(), "settings.xml");
    EXPECT_EQ(settings.OptionsPath(), "options.xml");
    EXPECT_EQ(settings.TimeOut(), 0);
    EXPECT_EQ(settings.TimeSendDelay(), 0);
    EXPECT_EQ(settings.SendDataSize(), 1);
    EXPECT_EQ(settings.MaxSendCount(), 1);
    EXPECT_TRUE(settings.Groups().empty());
    EXPECT_TRUE(settings.TcpPorts().empty());
    EXPECT_TRUE(settings.UdpPorts().empty());
    EXPECT_TRUE(settings.IpPorts().empty());
}

TEST(SchemeFile, ReadingFillsGroupsAndPortListsInFileOrder)
{
    TempFolder folder("kanaliko-scheme");
    const std::string path = folder.File("scheme.xml");
    WriteBytes(path, kHandWritten);
    core::CXmlSettings settings;
    settings.ReadScheme(path);

    EXPECT_EQ(settings.SchemePath(), path);
    const std::vector<channel::SchemeGroup> expected = {
        Group(L"Узел А", L"Node B", {{46001, 0}, {46002, 46102}},
              {{47001, 47002}, {47011, 0}, {47021, 47022}}, {}),
        Group(L"Узел Б", L"Узел А", {{46003, 0}}, {}, {{253, 0}}),
    };
    EXPECT_EQ(GroupsOf(settings), expected);
    // TCP and IP: the server port, then the client port when there is one.
    EXPECT_EQ(settings.TcpPorts(), (channel::PortList{46001, 46002, 46102, 46003}));
    EXPECT_EQ(settings.IpPorts(), (channel::PortList{253}));
    // UDP is read two by two: the pair without clPort keeps its place with 0,
    // so the pair after it is still (47021, 47022).
    EXPECT_EQ(settings.UdpPorts(), (channel::PortList{47001, 47002, 47011, 0, 47021, 47022}));
    EXPECT_TRUE(settings.IsUdpClientPort(47002));
    EXPECT_TRUE(settings.IsUdpClientPort(47022));
    EXPECT_FALSE(settings.IsUdpClientPort(47001)) << "a server port is not a client port";
    EXPECT_FALSE(settings.IsUdpClientPort(47021));
    EXPECT_FALSE(settings.IsUdpClientPort(0)) << "0 stands for no client port";
    EXPECT_FALSE(settings.IsUdpClientPort(46102)) << "only UDP pairs count";
}

TEST(SchemeFile, RoundTripKeepsOrderAndWritesEveryProtocolAndBothPorts)
{
    TempFolder folder("kanaliko-scheme");
    WriteBytes(folder.File("in.xml"), kHandWritten);
    core::CXmlSettings settings;
    settings.ReadScheme(folder.File("in.xml"));
    const std::vector<channel::SchemeGroup> read = GroupsOf(settings);
    ASSERT_TRUE(settings.WriteScheme(folder.File("out.xml")));
    EXPECT_EQ(settings.SchemePath(), folder.File("out.xml"));

    // Looked at with a parser of its own, not through the library that wrote it.
    pugi::xml_document written;
    ASSERT_TRUE(written.load_file(folder.File("out.xml").c_str()));
    pugi::xml_node root = written.document_element();
    EXPECT_STREQ(root.name(), "Chanels");
    std::vector<std::string> layout;
    for (pugi::xml_node group : root.children()) {
        layout.push_back(std::string(group.name()) + " " + group.attribute("senderName").value() +
                         " -> " + group.attribute("receiverName").value());
        for (pugi::xml_node proto : group.children()) {
            std::string line = std::string(proto.name()) + " " + proto.attribute("name").value();
            for (pugi::xml_node port : proto.children()) {
                line += std::string(" ") + port.name() + ":" + port.attribute("srvPort").value() +
                        "/" + port.attribute("clPort").value();
                EXPECT_EQ(std::string(port.first_attribute().name()), "srvPort") << "srvPort first";
            }
            layout.push_back(line);
        }
    }
    const std::vector<std::string> expected = {
        "Group Узел А -> Node B",
        "Proto TCP Port:46001/0 Port:46002/46102",
        "Proto UDP Port:47001/47002 Port:47011/0 Port:47021/47022",
        "Proto IP",
        "Group Узел Б -> Узел А",
        "Proto TCP Port:46003/0",
        "Proto UDP",
        "Proto IP Port:253/0",
    };
    EXPECT_EQ(layout, expected);

    // Indented for people: one element per line.
    const std::string text = ReadBytes(folder.File("out.xml"));
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Chanels>\n  <Group ", 0), 0u)
        << text;
    EXPECT_NE(text.find("\n      <Port srvPort=\"47011\" clPort=\"0\""), std::string::npos) << text;

    core::CXmlSettings again;
    again.ReadScheme(folder.File("out.xml"));
    EXPECT_EQ(GroupsOf(again), read);
    EXPECT_EQ(again.UdpPorts(), settings.UdpPorts());
    EXPECT_EQ(again.TcpPorts(), settings.TcpPorts());
}

TEST(SchemeFile, EmptySchemeIsWrittenAsTheBareRoot)
{
    TempFolder folder("kanaliko-scheme");
    core::CXmlSettings settings;
    ASSERT_TRUE(settings.WriteScheme(folder.File("empty.xml")));
    EXPECT_EQ(ReadBytes(folder.File("empty.xml")),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Chanels></Chanels>\n");
    settings.ReadScheme(folder.File("empty.xml"));
    EXPECT_TRUE(settings.Groups().empty());
    EXPECT_EQ(settings.SchemePath(), folder.File("empty.xml"));
}

TEST(SchemeFile, FailedWriteReportsFalseAndStillTakesThePath)
{
    TempFolder folder("kanaliko-scheme");
    core::CXmlSettings settings;
    settings.SetGroups(std::vector<channel::SchemeGroup>{Group(L"a", L"b", {{1, 2}}, {}, {})});
    const std::string nowhere = folder.File("missing-folder/s.xml");
    EXPECT_FALSE(settings.WriteScheme(nowhere));
    EXPECT_EQ(settings.SchemePath(), nowhere);
    EXPECT_FALSE(fs::exists(nowhere));
}

TEST(SchemeFile, ProtocolNamesMatchExactlyAndDuplicatesAddUp)
{
    TempFolder folder("kanaliko-scheme");
    WriteBytes(folder.File("s.xml"), R"(<Chanels>
      <Group senderName="a" receiverName="b">
        <Proto name="udp"><Port srvPort="1" clPort="2"/></Proto>
        <Proto name="Tcp"><Port srvPort="3"/></Proto>
        <Proto name=" IP"><Port srvPort="4"/></Proto>
        <Proto><Port srvPort="5"/></Proto>
        <Proto name="TCP"><Port srvPort="10"/></Proto>
        <Proto name="IP"><Port srvPort="20"/></Proto>
        <Proto name="TCP"><Port srvPort="11" clPort="12"/></Proto>
      </Group>
    </Chanels>)");
    core::CXmlSettings settings;
    settings.ReadScheme(folder.File("s.xml"));
    ASSERT_EQ(settings.Groups().size(), 1u);
    const channel::SchemeGroup& group = *settings.Groups()[0];
    EXPECT_EQ(group.tcpPairs, (std::vector<channel::PortPair>{{10, 0}, {11, 12}}));
    EXPECT_TRUE(group.udpPairs.empty());
    EXPECT_EQ(group.ipPairs, (std::vector<channel::PortPair>{{20, 0}}));
    EXPECT_EQ(settings.TcpPorts(), (channel::PortList{10, 11, 12}));
    EXPECT_TRUE(settings.UdpPorts().empty());
}

TEST(SchemeFile, SetGroupsTakesDeepCopiesAndRebuildsThePortLists)
{
    core::CXmlSettings settings;
    channel::SchemeGroup first = Group(L"a", L"b", {{100, 0}}, {{200, 201}, {210, 0}}, {{253, 0}});
    channel::SchemeGroup second = Group(L"c", L"d", {{101, 1101}}, {}, {{254, 7}});
    settings.SetGroups(std::vector<const channel::SchemeGroup*>{&first, nullptr, &second});
    first.senderName = L"changed";
    first.tcpPairs.clear();
    ASSERT_EQ(settings.Groups().size(), 2u);
    EXPECT_EQ(settings.Groups()[0]->senderName, L"a");
    EXPECT_EQ(settings.Groups()[0]->tcpPairs.size(), 1u);
    EXPECT_EQ(settings.TcpPorts(), (channel::PortList{100, 101, 1101}));
    EXPECT_EQ(settings.UdpPorts(), (channel::PortList{200, 201, 210, 0}));
    EXPECT_EQ(settings.IpPorts(), (channel::PortList{253, 254, 7}));

    // The settings' own groups may be handed back (an editor that applies
    // without changes).
    std::vector<const channel::SchemeGroup*> own;
    for (const auto& group : settings.Groups())
        own.push_back(group.get());
    settings.SetGroups(own);
    ASSERT_EQ(settings.Groups().size(), 2u);
    EXPECT_EQ(settings.Groups()[1]->receiverName, L"d");
    EXPECT_EQ(settings.TcpPorts(), (channel::PortList{100, 101, 1101}));

    settings.SetGroups(std::vector<channel::SchemeGroup>{});
    EXPECT_TRUE(settings.Groups().empty());
    EXPECT_TRUE(settings.TcpPorts().empty());
    EXPECT_TRUE(settings.UdpPorts().empty());
    EXPECT_TRUE(settings.IpPorts().empty());
}

TEST(SchemeFile, ClearGroupsEmptiesTheGroupList)
{
    core::CXmlSettings settings;
    settings.SetGroups(std::vector<channel::SchemeGroup>{Group(L"a", L"b", {{1, 0}}, {}, {}),
                                                         Group(L"c", L"d", {}, {}, {})});
    settings.ClearGroups();
    EXPECT_TRUE(settings.Groups().empty());
}

TEST(SchemeFile, ReadingAnotherSchemeReplacesTheWholeScheme)
{
    TempFolder folder("kanaliko-scheme");
    WriteBytes(folder.File("one.xml"), kHandWritten);
    WriteBytes(folder.File("two.xml"), R"(<Chanels><Group senderName="x" receiverName="y">
        <Proto name="TCP"><Port srvPort="5000" clPort="0"/></Proto></Group></Chanels>)");
    core::CXmlSettings settings;
    settings.ReadScheme(folder.File("one.xml"));
    settings.ReadScheme(folder.File("two.xml"));
    ASSERT_EQ(settings.Groups().size(), 1u);
    EXPECT_EQ(settings.TcpPorts(), (channel::PortList{5000}));
    EXPECT_TRUE(settings.UdpPorts().empty());
    EXPECT_TRUE(settings.IpPorts().empty());
    // The caller may pass the current path itself.
    settings.ReadScheme(settings.SchemePath());
    EXPECT_EQ(settings.SchemePath(), folder.File("two.xml"));
    EXPECT_EQ(settings.Groups().size(), 1u);
}

TEST(SchemeFile, SkippedGroupsAreReportedToTheDebugStream)
{
    TempFolder folder("kanaliko-scheme");
    WriteBytes(folder.File("s.xml"), R"(<Chanels>
        <Group senderName="only sender"><Proto name="TCP"><Port srvPort="1"/></Proto></Group>
        <Group senderName="a" receiverName="b"><Proto name="TCP"><Port srvPort="2"/></Proto></Group>
    </Chanels>)");
    core::CXmlSettings settings;
    {
        StreamCapture debug(Debug);
        settings.ReadScheme(folder.File("s.xml"));
        const std::string text = debug.Text();
        EXPECT_NE(text.find("receiverName"), std::string::npos) << text;
        EXPECT_NE(text.find("/Chanels/Group[1]"), std::string::npos) << text;
    }
    EXPECT_EQ(settings.Groups().size(), 1u);

    // With the stream switched off (as at shut-down) the damaged group is
    // still skipped and the rest loads.
    TDebugStream saved(Debug);
    Debug.ClearWriters();
    settings.ReadScheme(folder.File("s.xml"));
    Debug = saved;
    EXPECT_EQ(settings.Groups().size(), 1u);
}

TEST(SchemeFile, ExampleSchemeLoadsAndIsWrittenBackUnchanged)
{
    const char* source = std::getenv("KANALIKO_SOURCE_DIR");
    // ctest names the source tree; run by hand, the tree is found from this file.
    const fs::path tree = source ? fs::path(source) : fs::path(__FILE__).parent_path() / "../..";
    const std::string example = (tree / "examples/settings.xml").string();
    ASSERT_TRUE(fs::exists(example)) << example;
    core::CXmlSettings settings;
    StreamCapture debug(Debug);
    settings.ReadScheme(example);
    EXPECT_EQ(debug.Text(), "") << "nothing in the example is skipped";
    ASSERT_FALSE(settings.Groups().empty());
    bool tcp = false, udp = false, ip = false;
    for (const auto& group : settings.Groups()) {
        tcp = tcp || !group->tcpPairs.empty();
        udp = udp || !group->udpPairs.empty();
        ip = ip || !group->ipPairs.empty();
        for (const channel::PortPair& pair : group->udpPairs)
            EXPECT_NE(pair.clientPort, pair.serverPort) << "UDP pairs use two ports";
    }
    EXPECT_TRUE(tcp && udp && ip) << "every protocol is shown";
    for (std::uint16_t port : settings.TcpPorts())
        EXPECT_GT(port, 1024) << "no privileged TCP port";
    TempFolder folder("kanaliko-scheme");
    ASSERT_TRUE(settings.WriteScheme(folder.File("again.xml")));
    EXPECT_EQ(ReadBytes(folder.File("again.xml")), ReadBytes(example));
}
