// The event record, the text forms of its fields and the CSV export.

#include "channel/PeerAddress.h"
#include "events/Event.h"
#include "events/EventCsv.h"
#include "events/EventText.h"
#include "events/support/EventTestSupport.h"
#include "ferrox/strings/Strings.h"
#include "platform/ErrorTexts.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <ctime>
#include <random>
#include <set>
#include <sstream>
#include <thread>

namespace eventstest {
namespace {

using events::Event;

std::string Utf8(const std::wstring& text)
{
    return as_string(text, CP_UTF8);
}

TEST(EventRecord, MakeEventFillsBothEndsWithTheirAddresses)
{
    Event e = events::MakeEvent(3, 7, 10061, 1, "127.0.0.1", "10.1.2.3", 40000, 80);
    EXPECT_EQ(e.status, 3);
    EXPECT_EQ(e.description, 7);
    EXPECT_EQ(e.protocol, 1);
    EXPECT_STREQ(e.senderText, "127.0.0.1");
    EXPECT_STREQ(e.receiverText, "10.1.2.3");
    EXPECT_EQ(e.senderAddress, ::inet_addr("127.0.0.1"));
    EXPECT_EQ(e.receiverAddress, ::inet_addr("10.1.2.3"));
    EXPECT_EQ(e.senderPort, 40000);
    EXPECT_EQ(e.receiverPort, 80);
    EXPECT_EQ(e.detail, 10061u);

    Event none = events::MakeEvent(0, 1, 0, 2, "10.0.0.1", nullptr, 5000, 0);
    EXPECT_STREQ(none.receiverText, "");
    EXPECT_EQ(none.receiverAddress, 0u) << "no receiver is address 0, not INADDR_NONE";
    Event empty = events::MakeEvent(0, 1, 0, 2, "10.0.0.1", "", 5000, 0);
    EXPECT_EQ(empty.receiverAddress, 0u);
}

// The record used to read its texts with inet_addr (octal for "010"), while
// the probes read them decimal: one address had two readings.
TEST(EventRecord, AddressIsTheProgramsOneReadingOfTheText)
{
    struct Case
    {
        const char* text;
        std::uint32_t address;
    } cases[] = {
        {"1.2.3.4", ::inet_addr("1.2.3.4")},
        {"0.0.0.0", 0},
        {"", 0},
        {"010.0.0.1", ::inet_addr("10.0.0.1")}, // decimal, never octal
        {"127.0.0.010", ::inet_addr("127.0.0.10")},
        {"0x7f.0.0.1", 0xFFFFFFFFu},
        {"1.2.3", 0xFFFFFFFFu},
        {"1.2.3.4 ", 0xFFFFFFFFu},
        {"127.1", 0xFFFFFFFFu},
        {"a.b.c.d", 0xFFFFFFFFu},
    };
    for (const Case& c : cases)
        EXPECT_EQ(events::AddressOfText(c.text), c.address) << c.text;

    // Random texts: the peer parser's reading; for a plain spelling that is
    // also the system's.
    std::mt19937 random(11);
    const char alphabet[] = "0123456789.";
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        const int length = 1 + static_cast<int>(random() % 15);
        for (int c = 0; c < length; ++c)
            text += alphabet[random() % (sizeof(alphabet) - 1)];
        channel::PeerAddress peer;
        const std::uint32_t expected =
            channel::ParseAddress(peer, text.c_str()) ? peer.address : 0xFFFFFFFFu;
        ASSERT_EQ(events::AddressOfText(text.c_str()), expected) << text;
        std::uint32_t plain = 0;
        if (channel::ReadPlainAddress(text, plain)) {
            ASSERT_EQ(plain, expected) << text;
            ASSERT_EQ(plain, static_cast<std::uint32_t>(::inet_addr(text.c_str()))) << text;
        }
    }
}

TEST(EventRecord, OverlongTextIsCutToTheField)
{
    Event e = events::MakeEvent(0, 1, 0, 1, "123.123.123.123.999", "", 1, 0);
    EXPECT_EQ(std::string(e.senderText), "123.123.123.123");
}

TEST(EventRecord, TimeIsTheLocalWallClockInWholeMilliseconds)
{
    const std::uint64_t before = events::LocalFileTimeNow();
    Event e = events::MakeEvent(0, 1, 0, 1, "10.0.0.1", "", 1, 0);
    const std::uint64_t after = events::LocalFileTimeNow();
    EXPECT_LE(before, e.time);
    EXPECT_LE(e.time, after);
    EXPECT_EQ(e.time % 10000u, 0u) << "milliseconds, as GetLocalTime gives";

    // The time of day agrees with the C library's local time.
    const time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    const std::string text = events::TimeText(events::LocalFileTimeNow());
    const std::string expected = std::to_string(local.tm_hour) + ":";
    EXPECT_EQ(text.substr(0, expected.size()), expected) << text;
}

TEST(EventRecord, SequenceNumbersGrowByOneAcrossThreads)
{
    std::vector<std::uint32_t> numbers[4];
    std::vector<std::thread> threads;
    for (auto& list : numbers)
        threads.emplace_back([&list] {
            for (int i = 0; i < 1000; ++i)
                list.push_back(events::NextEventSequence());
        });
    for (auto& t : threads)
        t.join();
    std::set<std::uint32_t> all;
    for (auto& list : numbers)
        all.insert(list.begin(), list.end());
    ASSERT_EQ(all.size(), 4000u) << "no number twice";
    EXPECT_EQ(*all.rbegin() - *all.begin(), 3999u) << "no gap";
}

TEST(EventText, FieldTexts)
{
    EXPECT_EQ(events::StatusText(0), "Информация");
    EXPECT_EQ(events::StatusText(2), "Ошибка");
    EXPECT_EQ(events::StatusText(3), "Предупреждение");
    EXPECT_EQ(events::StatusText(1), "???");
    EXPECT_EQ(events::TimeText(FileTimeOf(9, 5, 3, 7)), "9:05:03.007");
    EXPECT_EQ(events::TimeText(FileTimeOf(23, 59, 59, 999)), "23:59:59.999");
    EXPECT_EQ(events::TimeText(FileTimeOf(0, 0, 0, 0)), "0:00:00.000");
    EXPECT_EQ(events::DescriptionText(0), "");
    EXPECT_EQ(events::DescriptionText(6), "Попытка подключения");
    EXPECT_EQ(events::DescriptionText(13), "Попытка подключения");
    EXPECT_EQ(events::DescriptionText(14), "Внутренняя ошибка");
    EXPECT_EQ(events::DescriptionText(15), "???");
    EXPECT_EQ(events::DescriptionText(-1), "???");
    EXPECT_EQ(events::ProtocolText(1), "TCP");
    EXPECT_EQ(events::ProtocolText(2), "UDP");
    EXPECT_EQ(events::ProtocolText(3), "IP");
    EXPECT_EQ(events::ProtocolText(0), "");
    EXPECT_EQ(events::PortText(65535), "65535");
}

TEST(EventText, DetailIsCodeAndSystemTextOrNothing)
{
    const std::string refused = Utf8(platform::SystemErrorText(10061));
    ASSERT_FALSE(refused.empty());
    EXPECT_EQ(events::DetailText(10061), "10061: " + refused);
    EXPECT_EQ(events::DetailText(0), "0: " + Utf8(platform::SystemErrorText(0)));
    ASSERT_TRUE(platform::SystemErrorText(9999).empty());
    EXPECT_EQ(events::DetailText(9999), "") << "no text: no number either";

    // The grid leaves the detail of code 0 empty, and the receiver with its
    // port when the receiver port is 0.
    Event e = events::MakeEvent(0, 1, 0, 2, "10.0.0.1", "10.0.0.2", 5000, 0);
    EXPECT_EQ(events::CellText(e, events::COL_DETAIL), "");
    EXPECT_EQ(events::CellText(e, events::COL_RECEIVER), "");
    EXPECT_EQ(events::CellText(e, events::COL_RECEIVER_PORT), "");
    EXPECT_EQ(events::CellText(e, events::COL_SENDER_PORT), "5000");
    e.receiverPort = 6000;
    e.detail = 10061;
    EXPECT_EQ(events::CellText(e, events::COL_RECEIVER), "10.0.0.2");
    EXPECT_EQ(events::CellText(e, events::COL_RECEIVER_PORT), "6000");
    EXPECT_EQ(events::CellText(e, events::COL_DETAIL), "10061: " + refused);
}

TEST(EventCsv, HeaderAndLinesByteForByte)
{
    Event outgoing = events::MakeEvent(0, 6, 0, 1, "192.168.1.5", "", 46001, 0);
    outgoing.time = FileTimeOf(14, 7, 9, 45);
    Event failed = events::MakeEvent(3, 7, 10061, 1, "192.168.1.5", "192.168.1.9", 46001, 46001);
    failed.time = FileTimeOf(14, 7, 10, 500);
    Event odd = events::MakeEvent(1, 99, 9999, 0, "10.0.0.1", "10.0.0.2", 1, 2);
    odd.time = FileTimeOf(8, 0, 0, 0);

    std::ostringstream out;
    std::vector<Event> rows = {outgoing, failed, odd};
    const std::size_t lines = events::WriteEventsCsv(out, 4, [&](int row) -> std::optional<Event> {
        if (row < static_cast<int>(rows.size()))
            return rows[static_cast<std::size_t>(row)];
        return std::nullopt; // a row the store no longer has is left out
    });
    EXPECT_EQ(lines, 3u);

    const std::string header =
        "Статус;Время;Описание;Протокол;Отправитель ->;<- Получатель;Порт ->;<- Порт;"
        "Подробное описание\r\n";
    const std::string line1 =
        "Информация;14:07:09.045;Попытка подключения;TCP;192.168.1.5;\t;46001;\t;0: " +
        Utf8(platform::SystemErrorText(0)) + ";\r\n";
    const std::string line2 =
        "Предупреждение;14:07:10.500;Не удалось подключиться;TCP;192.168.1.5;192.168.1.9;"
        "46001;46001;10061: " +
        Utf8(platform::SystemErrorText(10061)) + ";\r\n";
    const std::string line3 = "???;8:00:00.000;???;;10.0.0.1;10.0.0.2;1;2;;\r\n";
    EXPECT_EQ(out.str(), header + line1 + line2 + line3);
}

} // namespace
} // namespace eventstest
