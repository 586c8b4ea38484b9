// The xml:: document library as its callers see it: files in, values out,
// files written, and failures that arrive as EGeneric naming what and where.

#include "markuptree/MarkupTree.h"

#include "ferrox/exceptions/EGeneric.h"
#include "ferrox/strings/Strings.h"

#include <gtest/gtest.h>

#include "support/TestFiles.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using namespace testsupport;

std::string TextOf(const EGeneric& error)
{
    return error.get_value("Text").as_string();
}

const std::string kScheme = R"(<?xml version="1.0" encoding="UTF-8"?>
<Chanels>
  <Group senderName="Узел-1" receiverName="Node &amp; B">
    <Proto name="TCP"><Port srvPort="5001" clPort="0"/><Port srvPort=" 5002 " clPort="-7"/></Proto>
    <Proto name="UDP"/>
  </Group>
  <Group senderName="x">
    <Proto name="IP"><Port srvPort="abc"/></Proto>
  </Group>
  <Other/>
  <Group senderName="y" receiverName="z"><TimeOut>250</TimeOut></Group>
</Chanels>
)";

} // namespace

TEST(Document, TemplateTextIsSavedByteForByteWithoutNormalisation)
{
    TempFolder folder;
    const std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Chanels></Chanels>\n";
    xml::pdocument document;
    document.put_xml(text);
    ASSERT_TRUE(document.save_xml(folder.File("empty.xml")));
    EXPECT_EQ(ReadBytes(folder.File("empty.xml")), text);
    // The same text given wide.
    xml::pdocument wide;
    wide.put_xml(
        std::wstring(L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Options></Options>\n"));
    EXPECT_EQ(wide.get_xml(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Options></Options>\n");
}

TEST(Document, NormalisedTextHasOneIndentedElementPerLineAndReadsBackTheSame)
{
    TempFolder folder;
    xml::pdocument document;
    document.put_xml(std::string("<Options></Options>"));
    const xml::pnode root = document.get_root();
    root.append(xml::element(L"TimeOut")).put_value(200);
    const xml::pnode group = root.append(xml::element(L"Group"));
    group.append(xml::attribute(L"senderName")).put_value(L"Узел <A> & \"B\" 😀");
    group.append(xml::element(L"Port")).append(xml::attribute(L"srvPort")).put_value(-12);
    document.normalize_text();
    ASSERT_TRUE(document.save_xml(folder.File("o.xml")));

    const std::string saved = ReadBytes(folder.File("o.xml"));
    std::istringstream lines(saved);
    std::string line;
    std::vector<std::string> all;
    while (std::getline(lines, line))
        all.push_back(line);
    ASSERT_EQ(all.size(), 7u) << saved;
    EXPECT_EQ(all[0], "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    EXPECT_EQ(all[1], "<Options>");
    EXPECT_EQ(all[2].find("  <TimeOut>200</TimeOut>"), 0u);
    EXPECT_EQ(all[4].find("    <Port"), 0u);
    EXPECT_EQ(all[6], "</Options>");

    xml::pdocument again;
    again.load_xml(folder.File("o.xml"));
    int timeOut = 0;
    again.get_root()[xml::element(L"TimeOut")].get_value(timeOut);
    EXPECT_EQ(timeOut, 200);
    std::wstring name;
    again.get_root()[xml::element(L"Group")][xml::attribute(L"senderName")].get_value(name);
    EXPECT_EQ(name, L"Узел <A> & \"B\" 😀");
    EXPECT_EQ(
        again.get_root()[xml::element(L"Group")][xml::element(L"Port")][xml::attribute(L"srvPort")]
            .get_value()
            .as_int(),
        -12);
}

TEST(Document, NodeListsWalkChildrenOfOneNameInOrder)
{
    xml::pdocument document;
    document.put_xml(kScheme);
    const xml::pnode root = document.get_root();
    EXPECT_EQ(root.name(), L"Chanels");
    xml::pnodelist groups = root.get_nodelist(xml::element(L"Group"));
    EXPECT_EQ(groups.length(), 3);
    std::vector<std::wstring> senders;
    for (xml::pnode g = groups.nextnode(); g.valid(); g = groups.nextnode()) {
        std::wstring sender;
        g[xml::attribute(L"senderName")].get_value(sender);
        senders.push_back(sender);
    }
    EXPECT_EQ(senders, (std::vector<std::wstring>{L"Узел-1", L"x", L"y"}));
    EXPECT_FALSE(groups.nextnode().valid()) << "an exhausted list stays exhausted";
    groups.reset();
    EXPECT_EQ(groups.nextnode()[xml::attribute(L"receiverName")].get_value().as_wstring(),
              L"Node & B");
    // Only children: the Port elements are not children of the root.
    EXPECT_EQ(root.get_nodelist(xml::element(L"Port")).length(), 0);
    EXPECT_EQ(root.children().length(), 4);
    EXPECT_EQ(xml::pnode().get_nodelist(xml::element(L"Group")).length(), 0);
}

TEST(Document, IntegersAreReadStrictly)
{
    xml::pdocument document;
    document.put_xml(kScheme);
    const xml::pnode tcp = document.get_root()[xml::element(L"Group")][xml::element(L"Proto")];
    xml::pnodelist ports = tcp.get_nodelist(xml::element(L"Port"));
    xml::pnode first = ports.nextnode();
    xml::pnode second = ports.nextnode();
    int value = 0;
    second[xml::attribute(L"srvPort")].get_value(value);
    EXPECT_EQ(value, 5002) << "blanks around the number are allowed";
    second[xml::attribute(L"clPort")].get_value(value);
    EXPECT_EQ(value, -7);

    xml::pdocument numbers;
    numbers.put_xml(std::string("<r a='2147483647' b='-2147483648' c='2147483648' d='12abc' e=''"
                                " f='+5' g='0x10' h='99999999999999999999999'/>"));
    const xml::pnode r = numbers.get_root();
    r[xml::attribute(L"a")].get_value(value);
    EXPECT_EQ(value, INT_MAX);
    r[xml::attribute(L"b")].get_value(value);
    EXPECT_EQ(value, INT_MIN);
    r[xml::attribute(L"f")].get_value(value);
    EXPECT_EQ(value, 5);
    for (const wchar_t* bad : {L"c", L"d", L"e", L"g", L"h"}) {
        const EGeneric error = ExpectFailure([&] { r[xml::attribute(bad)].get_value(value); });
        EXPECT_NE(TextOf(error).find("не является целым числом"), std::string::npos)
            << TextOf(error);
        EXPECT_NE(TextOf(error).find("\"" + as_string(const_wstring(bad)) + "\""),
                  std::string::npos);
    }
    // The text of a non-numeric value is quoted in the message.
    const EGeneric error = ExpectFailure([&] {
        document.get_root()
            .get_nodelist(xml::element(L"Group"))
            .nextnode(); // keeps the list API honest: a temporary list still works
        xml::pnodelist groups = document.get_root().get_nodelist(xml::element(L"Group"));
        groups.nextnode();
        groups.nextnode()[xml::element(L"Proto")][xml::element(L"Port")][xml::attribute(L"srvPort")]
            .get_value(value);
    });
    EXPECT_NE(TextOf(error).find("\"abc\""), std::string::npos) << TextOf(error);
    EXPECT_EQ(error.get_value("Element").as_string(), "/Chanels/Group[2]/Proto[1]/Port[1]");
    EXPECT_EQ(first[xml::attribute(L"clPort")].get_value().as_int(), 0);
}

TEST(Document, MissingPiecesNameThemselvesTheirElementAndTheFile)
{
    TempFolder folder;
    const std::string path = folder.File("scheme.xml");
    WriteBytes(path, kScheme);
    xml::pdocument document;
    document.load_xml(path);
    EXPECT_EQ(document.file(), path);
    xml::pnodelist groups = document.get_root().get_nodelist(xml::element(L"Group"));
    groups.nextnode();
    const xml::pnode second = groups.nextnode();
    EXPECT_TRUE(second.exist_attribute(xml::attribute(L"senderName")));
    EXPECT_FALSE(second.exist_attribute(xml::attribute(L"receiverName")));

    const xml::pnode missing = second[xml::attribute(L"receiverName")];
    EXPECT_FALSE(missing.valid());
    std::wstring text;
    EGeneric error = ExpectFailure([&] { missing.get_value(text); });
    EXPECT_EQ(TextOf(error),
              "Нет атрибута \"receiverName\" у элемента /Chanels/Group[2] в файле \"" + path +
                  "\"");
    EXPECT_EQ(error.get_value("File").as_string(), path);
    EXPECT_EQ(error.get_value("Element").as_string(), "/Chanels/Group[2]");

    // Selecting on from a miss keeps the first miss.
    error = ExpectFailure([&] {
        second[xml::element(L"Proto")][xml::element(L"Nothing")][xml::element(L"Deeper")]
            .get_value();
    });
    EXPECT_EQ(TextOf(error),
              "Нет элемента \"Nothing\" в элементе /Chanels/Group[2]/Proto[1] в файле \"" + path +
                  "\"");

    // A value may be an attribute or a child element: node() takes either.
    xml::pnodelist all = document.get_root().get_nodelist(xml::element(L"Group"));
    all.nextnode();
    all.nextnode();
    const xml::pnode third = all.nextnode();
    EXPECT_EQ(third[xml::node(L"TimeOut")].get_value().as_int(), 250);
    EXPECT_EQ(third[xml::node(L"senderName")].get_value().as_wstring(), L"y");
    error = ExpectFailure([&] { third[xml::node(L"Absent")].get_value(); });
    EXPECT_NE(TextOf(error).find("\"Absent\""), std::string::npos);

    // A default handle refers to nothing and says so.
    error = ExpectFailure([] { xml::pnode().get_value(); });
    EXPECT_FALSE(TextOf(error).empty());
    EXPECT_FALSE(xml::pdocument().get_root().valid());
}

TEST(Document, WritingReplacesTextAndKeepsChildElements)
{
    xml::pdocument document;
    document.put_xml(std::string("<r>old<c/>text</r>"));
    const xml::pnode root = document.get_root();
    root.put_value(L"new");
    EXPECT_EQ(root.get_value().as_wstring(), L"new");
    EXPECT_TRUE(root[xml::element(L"c")].valid());
    const xml::pnode attr = root.append(xml::attribute(L"a"));
    attr.put_value(1);
    root.append(xml::attribute(L"a")).put_value(static_cast<const wchar_t*>(nullptr));
    EXPECT_EQ(root.get_nodelist(xml::element(L"c")).length(), 1);
    EXPECT_EQ(root[xml::attribute(L"a")].get_value().as_wstring(), L"") << "one attribute, reused";
    EXPECT_EQ(document.get_xml(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r a=\"\"><c></c>new</r>\n");
    // Writing through a miss fails loudly instead of creating anything.
    EXPECT_THROW(root[xml::element(L"absent")].put_value(1), EGeneric);
    EXPECT_THROW(root[xml::attribute(L"absent")].append(xml::element(L"x")), EGeneric);
}

TEST(Document, HandlesOutliveTheirDocumentAndItsReloads)
{
    TempFolder folder;
    WriteBytes(folder.File("a.xml"), "<a v='1'/>");
    WriteBytes(folder.File("b.xml"), "<b v='2'/>");
    xml::pnode kept;
    {
        xml::pdocument document;
        document.load_xml(folder.File("a.xml"));
        kept = document.get_root();
        document.load_xml(folder.File("b.xml"));
        EXPECT_EQ(document.get_root().name(), L"b");
        EXPECT_EQ(kept.name(), L"a");
    }
    EXPECT_EQ(kept[xml::attribute(L"v")].get_value().as_int(), 1);
}

TEST(Document, UnreadableFilesThrowAndLeaveTheDocumentEmpty)
{
    TempFolder folder;
    xml::pdocument document;
    document.put_xml(std::string("<kept/>"));

    EGeneric error = ExpectFailure([&] { document.load_xml(folder.File("absent.xml")); });
    EXPECT_EQ(error.get_value("Code").as_int(), ENOENT);
    EXPECT_NE(TextOf(error).find(folder.File("absent.xml")), std::string::npos);
    EXPECT_FALSE(document.get_root().valid());

    error = ExpectFailure([&] { document.load_xml(folder.Path().string()); });
    EXPECT_NE(TextOf(error).find("не является обычным файлом"), std::string::npos);

    // A named pipe without a writer must not hang the reader.
    const std::string fifo = folder.File("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(document.load_xml(fifo), EGeneric);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));

    // Beyond the size limit: refused before anything is read (a sparse file).
    const std::string big = folder.File("big.xml");
    {
        std::ofstream touch(big);
    }
    ASSERT_EQ(::truncate(big.c_str(), static_cast<off_t>(xml::pdocument::max_file_size) + 1), 0);
    error = ExpectFailure([&] { document.load_xml(big); });
    EXPECT_NE(TextOf(error).find("слишком велик"), std::string::npos);
    EXPECT_FALSE(document.get_root().valid());
}

TEST(Document, TextThatIsNotXmlThrowsWithItsPlace)
{
    TempFolder folder;
    const std::string complete = kScheme;
    // The start of an executable, NULs and a UTF-16 byte-order mark included.
    static const char kBinary[] = "\x7f"
                                  "ELF\x02\x01\x01\0\0\0\xff\xfe<\0a\0>";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"empty", ""},
        {"blank", "  \n\t "},
        {"truncated", complete.substr(0, complete.size() / 2)},
        {"plain", "just some words"},
        {"binary", std::string(kBinary, sizeof kBinary - 1)},
        {"unclosed", "<a><b></a>"},
        {"declaration only", "<?xml version=\"1.0\"?>"},
    };
    for (const auto& [name, bytes] : cases) {
        const std::string path = folder.File(name + ".xml");
        WriteBytes(path, bytes);
        xml::pdocument document;
        const EGeneric error = ExpectFailure([&] { document.load_xml(path); });
        EXPECT_NE(TextOf(error).find("не является XML-документом"), std::string::npos)
            << name << ": " << TextOf(error);
        EXPECT_EQ(error.get_value("File").as_string(), path);
        EXPECT_FALSE(document.get_root().valid()) << name;
    }
    xml::pdocument text;
    const EGeneric error = ExpectFailure([&] { text.put_xml(std::string("<a>\n<b>\n</a>")); });
    EXPECT_NE(TextOf(error).find("строка 3"), std::string::npos) << TextOf(error);
}

TEST(Document, DeepNestingAndLongValuesDoNotBreakReadingOrWriting)
{
    TempFolder folder;
    constexpr int depth = 200000;
    std::string deep;
    deep.reserve(depth * 7 + 16);
    for (int i = 0; i < depth; ++i)
        deep += "<a>";
    deep += "<leaf v='1'/>";
    for (int i = 0; i < depth; ++i)
        deep += "</a>";
    WriteBytes(folder.File("deep.xml"), deep);
    xml::pdocument document;
    document.load_xml(folder.File("deep.xml"));
    xml::pnode n = document.get_root();
    for (int i = 1; i < depth; ++i)
        n = n[xml::element(L"a")];
    const xml::pnode leaf = n[xml::element(L"leaf")];
    EXPECT_EQ(leaf[xml::attribute(L"v")].get_value().as_int(), 1);
    const std::string leafPath = leaf.path();
    EXPECT_EQ(std::count(leafPath.begin(), leafPath.end(), '/'), depth + 1);
    ASSERT_TRUE(document.save_xml(folder.File("deep-out.xml")));
    std::string expected = deep;
    expected.replace(expected.find("<leaf v='1'/>"), 13, "<leaf v=\"1\"></leaf>");
    EXPECT_TRUE(ReadBytes(folder.File("deep-out.xml")) ==
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + expected + "\n");

    const std::string longValue(8u << 20, 'x');
    WriteBytes(folder.File("long.xml"), "<r v='" + longValue + "'>" + longValue + "</r>");
    xml::pdocument wide;
    wide.load_xml(folder.File("long.xml"));
    EXPECT_EQ(wide.get_root()[xml::attribute(L"v")].get_value().as_wstring().size(),
              longValue.size());
    int value = 0;
    const EGeneric error = ExpectFailure([&] { wide.get_root().get_value(value); });
    EXPECT_LT(TextOf(error).size(), 1000u) << "a long value is cut in the message";
}

TEST(Document, SavingReplacesTheFileWholeAndReportsFailure)
{
    TempFolder folder;
    const std::string path = folder.File("s.xml");
    WriteBytes(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    xml::pdocument document;
    document.put_xml(std::string("<new/>"));
    ASSERT_TRUE(document.save_xml(path));
    EXPECT_EQ(ReadBytes(path), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<new></new>\n");
    struct stat st
    {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "the file keeps its permissions";
    std::size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(folder.Path())) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 1u) << "no temporary file is left behind";

    EXPECT_FALSE(document.save_xml(folder.File("no-such-folder/s.xml")));
    EXPECT_FALSE(document.save_xml(folder.Path().string())) << "a folder is not replaced";
    EXPECT_FALSE(document.save_xml(""));
    EXPECT_TRUE(fs::is_directory(folder.Path()));
}
