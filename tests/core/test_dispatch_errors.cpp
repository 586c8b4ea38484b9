// What the user hears of an exception that a server or a client raises while the
// logic dispatches a socket notification or a timer to it: the operation, the
// listing of named values and the "Text" value, on the Error stream and through
// the notifier; and the dispatch goes on.

#include "channel/EventCodes.h"
#include "core/support/LogicTestSupport.h"

#include <gtest/gtest.h>

namespace coretest {
namespace {

constexpr platform::SOCKET kOwnedSocket = 777;

// A protocol object that owns one socket and throws the scripted exception for
// every notification of it. Start opens nothing.
class CThrowingObject final : public engine::CSocketList
{
public:
    CThrowingObject(engine::IApp* sink, const channel::PeerAddress& address, int protocol,
                    const EGeneric& error)
        : CSocketList(sink, address, protocol), m_error(error)
    {}
    void Start(const std::vector<std::uint16_t>&) override {}
    int FindSocket(engine::SOCKET socket) const override
    {
        return socket == kOwnedSocket ? 0 : -1;
    }
    void OnSocketEvent(engine::SOCKET, int, loop::LPARAM) override { throw m_error; }

private:
    EGeneric m_error;
};

class CThrowingEngine final : public core::IEngineFactory
{
public:
    explicit CThrowingEngine(const EGeneric& error) : m_error(error) {}
    std::unique_ptr<engine::CSocketList> MakeServer(int protocol, engine::IApp* sink,
                                                    const channel::PeerAddress& address) override
    {
        return std::make_unique<CThrowingObject>(sink, address, protocol, m_error);
    }
    std::shared_ptr<engine::CSocketList> MakeClient(int protocol, engine::IApp* sink,
                                                    const channel::PeerAddress& peer,
                                                    const channel::ProbeOptions&) override
    {
        return std::make_shared<CThrowingObject>(sink, peer, protocol, m_error);
    }

private:
    EGeneric m_error;
};

EGeneric Bare(std::vector<value_pair> values)
{
    EGeneric error(false); // no report file, no gathered values
    for (const auto& [name, value] : values)
        error.put_value(name, value);
    return error;
}

// Every dispatch path with one scripted exception: what the notifier was shown
// and what reached the Error stream.
struct DispatchReport
{
    std::vector<CRecordingNotifier::Shown> shown;
    std::string errorStream;
};

DispatchReport DispatchEveryWay(const EGeneric& error)
{
    EnsureApplication();
    CThrowingEngine engine(error);
    CFixedInterfaces local({"198.18.0.5"});
    CRecordingNotifier notifier;
    core::CAppLogic logic(&notifier, local, engine);
    testsupport::StreamCapture errors(Error);
    logic.StartClients("198.18.0.7", logic.MakeClientPlan());

    EXPECT_EQ(logic.DispatchServerMessage(channel::PROTOCOL_TCP, kOwnedSocket, 1), 0);
    EXPECT_EQ(logic.DispatchServerMessage(channel::PROTOCOL_IP, kOwnedSocket, 1), 0);
    EXPECT_EQ(logic.DispatchClientMessage(channel::PROTOCOL_UDP, kOwnedSocket, 1), 0);
    EXPECT_EQ(logic.DispatchTimer(kOwnedSocket), 0);
    // Still dispatching after the errors: the next message is handled the same way.
    EXPECT_EQ(logic.DispatchClientMessage(channel::PROTOCOL_TCP, kOwnedSocket, 0), 0);
    logic.StopAllClients();
    return {notifier.All(), errors.Text()};
}

// An error without a "Text" value used to throw EBadCastException out of the
// dispatch's own catch block and end the process.
TEST(DispatchErrors, AnErrorWithoutTextIsShownWithAnEmptyErrorText)
{
    const EGeneric error = Bare({{"WSA", 10054}});
    const std::string listing = error.what();
    ASSERT_NE(listing.find("WSA: 10054"), std::string::npos) << listing;

    const DispatchReport report = DispatchEveryWay(error);
    ASSERT_EQ(report.shown.size(), 5u);
    const char* operations[] = {"Обработка серверных сообщений", "Обработка серверных сообщений",
                                "Обработка клиентских сообщений", "Обработка клиентских сообщений",
                                "Обработка клиентских сообщений"};
    for (std::size_t i = 0; i < report.shown.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(report.shown[i].operation, operations[i]);
        EXPECT_EQ(report.shown[i].technicalInfo, listing);
        EXPECT_EQ(report.shown[i].text, "") << "no Text value: the error text stays empty";
        EXPECT_TRUE(report.shown[i].isError);
    }
    std::string expected;
    for (int i = 0; i < 5; ++i)
        expected += listing + "\n";
    EXPECT_EQ(report.errorStream, expected) << "one line (the listing) per error";
}

TEST(DispatchErrors, AnErrorWithTextShowsItAsTheErrorText)
{
    const EGeneric error = Bare({{"Text", "Сокет закрыт"}, {"WSA", 10038}});
    const DispatchReport report = DispatchEveryWay(error);
    ASSERT_EQ(report.shown.size(), 5u);
    EXPECT_EQ(report.shown[0].operation, "Обработка серверных сообщений");
    EXPECT_EQ(report.shown[2].operation, "Обработка клиентских сообщений");
    for (const auto& shown : report.shown) {
        EXPECT_EQ(shown.text, "Сокет закрыт");
        EXPECT_NE(shown.technicalInfo.find("WSA: 10038"), std::string::npos);
    }
}

} // namespace
} // namespace coretest
