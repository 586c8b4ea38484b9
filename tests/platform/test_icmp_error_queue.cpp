// The reading of error-queue control data: what each ICMP answer means to
// Winsock, and that no byte pattern makes the parser read outside its buffer
// (run under AddressSanitizer to catch that).

#include "platform/IcmpErrorQueue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <random>
#include <set>
#include <sys/socket.h>
#include <vector>

namespace {

// Control data as recvmsg(MSG_ERRQUEUE) delivers it for one IPv4 answer: one
// IP_RECVERR record holding a sock_extended_err and the offender's address.
std::vector<std::byte> ErrorRecord(std::uint8_t origin, std::uint8_t type, std::uint8_t code,
                                   std::uint32_t systemErrno = EHOSTUNREACH)
{
    sock_extended_err error{};
    error.ee_errno = systemErrno;
    error.ee_origin = origin;
    error.ee_type = type;
    error.ee_code = code;
    sockaddr_in offender{};
    offender.sin_family = AF_INET;

    const std::size_t payload = sizeof error + sizeof offender;
    std::vector<std::byte> bytes(CMSG_SPACE(payload));
    cmsghdr header{};
    header.cmsg_len = CMSG_LEN(payload);
    header.cmsg_level = SOL_IP;
    header.cmsg_type = IP_RECVERR;
    std::memcpy(bytes.data(), &header, sizeof header);
    std::memcpy(bytes.data() + CMSG_LEN(0), &error, sizeof error);
    std::memcpy(bytes.data() + CMSG_LEN(0) + sizeof error, &offender, sizeof offender);
    return bytes;
}

std::vector<std::byte> OtherRecord()
{
    // A time stamp record, as SO_TIMESTAMPNS would add in front.
    const std::size_t payload = 16;
    std::vector<std::byte> bytes(CMSG_SPACE(payload));
    cmsghdr header{};
    header.cmsg_len = CMSG_LEN(payload);
    header.cmsg_level = SOL_SOCKET;
    header.cmsg_type = SO_TIMESTAMPNS;
    std::memcpy(bytes.data(), &header, sizeof header);
    return bytes;
}

int Parse(const std::vector<std::byte>& bytes)
{
    // An exact-size heap copy, so that any read past the end is caught.
    auto copy = std::make_unique<std::byte[]>(bytes.size() ? bytes.size() : 1);
    if (!bytes.empty())
        std::memcpy(copy.get(), bytes.data(), bytes.size());
    return platform::WsaErrorFromErrorQueueControl({copy.get(), bytes.size()});
}

} // namespace

TEST(IcmpMeaning, UnreachableAndTimeExceededAnswersBecomeWinsockCodes)
{
    constexpr std::uint8_t icmp = SO_EE_ORIGIN_ICMP;
    EXPECT_EQ(platform::WsaErrorFromIcmp(icmp, 3, 3), 10054); // port unreachable
    EXPECT_EQ(platform::WsaErrorFromIcmp(icmp, 3, 2), 10054); // protocol unreachable
    for (std::uint8_t code : {0, 1, 4, 9, 10, 13})            // net, host, ..., prohibited
        EXPECT_EQ(platform::WsaErrorFromIcmp(icmp, 3, code), 10065) << int(code);
    EXPECT_EQ(platform::WsaErrorFromIcmp(icmp, 11, 0), 10052); // TTL exceeded in transit
    EXPECT_EQ(platform::WsaErrorFromIcmp(icmp, 11, 1), 10052); // reassembly time exceeded
}

TEST(IcmpMeaning, OtherAnswersAndOtherOriginsAreNotReported)
{
    EXPECT_EQ(platform::WsaErrorFromIcmp(SO_EE_ORIGIN_ICMP, 12, 0), 0); // parameter problem
    EXPECT_EQ(platform::WsaErrorFromIcmp(SO_EE_ORIGIN_ICMP, 4, 0), 0);  // source quench
    EXPECT_EQ(platform::WsaErrorFromIcmp(SO_EE_ORIGIN_LOCAL, 3, 3), 0);
    EXPECT_EQ(platform::WsaErrorFromIcmp(SO_EE_ORIGIN_ICMP6, 1, 4), 0);
}

TEST(ErrorQueueControl, MeaningComesFromTypeAndCodeNeverFromErrno)
{
    // The system gives EHOSTUNREACH for a TTL expiry and a host unreachable alike.
    EXPECT_EQ(Parse(ErrorRecord(SO_EE_ORIGIN_ICMP, 11, 0, EHOSTUNREACH)), 10052);
    EXPECT_EQ(Parse(ErrorRecord(SO_EE_ORIGIN_ICMP, 3, 1, EHOSTUNREACH)), 10065);
    EXPECT_EQ(Parse(ErrorRecord(SO_EE_ORIGIN_ICMP, 3, 3, ECONNREFUSED)), 10054);
    EXPECT_EQ(Parse(ErrorRecord(SO_EE_ORIGIN_ICMP, 3, 2, ENOPROTOOPT)), 10054);
}

TEST(ErrorQueueControl, FindsTheErrorRecordBehindOtherRecords)
{
    std::vector<std::byte> bytes = OtherRecord();
    const std::vector<std::byte> error = ErrorRecord(SO_EE_ORIGIN_ICMP, 3, 3);
    bytes.insert(bytes.end(), error.begin(), error.end());
    EXPECT_EQ(Parse(bytes), 10054);
    EXPECT_EQ(Parse(OtherRecord()), 0);
    EXPECT_EQ(Parse({}), 0);
}

TEST(ErrorQueueControl, TruncatedControlDataGivesNothing)
{
    const std::vector<std::byte> full = ErrorRecord(SO_EE_ORIGIN_ICMP, 3, 3);
    const std::size_t needed = CMSG_LEN(0) + sizeof(sock_extended_err);
    for (std::size_t size = 0; size < full.size(); ++size) {
        std::vector<std::byte> prefix(full.begin(), full.begin() + static_cast<long>(size));
        const int result = Parse(prefix);
        // The record claims more than the prefix holds: rejected as a whole.
        EXPECT_EQ(result, 0) << size << " of " << full.size() << " (needs " << needed << ")";
    }
}

TEST(ErrorQueueControl, LyingLengthFieldsAreRejected)
{
    std::vector<std::byte> bytes = ErrorRecord(SO_EE_ORIGIN_ICMP, 3, 3);
    cmsghdr header;
    std::memcpy(&header, bytes.data(), sizeof header);
    for (std::size_t length : {std::size_t{0}, std::size_t{1}, sizeof(cmsghdr) - 1,
                               bytes.size() + 1, std::size_t{1} << 40, ~std::size_t{0}}) {
        header.cmsg_len = length;
        std::memcpy(bytes.data(), &header, sizeof header);
        EXPECT_EQ(Parse(bytes), 0) << length;
    }
    // A record too short for a sock_extended_err, however it is labelled.
    header.cmsg_len = CMSG_LEN(sizeof(sock_extended_err) - 1);
    std::memcpy(bytes.data(), &header, sizeof header);
    EXPECT_EQ(Parse(bytes), 0);
}

TEST(ErrorQueueControl, RandomAndMutatedBytesNeverGiveAnythingButTheKnownCodes)
{
    const std::set<int> known = {0, 10052, 10054, 10065};
    std::mt19937 random(20240611); // fixed seed: the run is repeatable
    const std::vector<std::byte> seeds[] = {ErrorRecord(SO_EE_ORIGIN_ICMP, 3, 3),
                                            ErrorRecord(SO_EE_ORIGIN_ICMP, 11, 0),
                                            ErrorRecord(SO_EE_ORIGIN_ICMP, 3, 1), OtherRecord()};
    for (int round = 0; round < 20000; ++round) {
        std::vector<std::byte> bytes;
        if (round % 2 == 0) {
            bytes = seeds[round / 2 % 4];
            if (round % 4 == 0)
                bytes.insert(bytes.end(), seeds[(round / 4 + 1) % 4].begin(),
                             seeds[(round / 4 + 1) % 4].end());
            const int flips = 1 + static_cast<int>(random() % 4);
            for (int i = 0; i < flips; ++i)
                bytes[random() % bytes.size()] = static_cast<std::byte>(random());
            bytes.resize(random() % (bytes.size() + 1));
        } else {
            bytes.resize(random() % 200);
            for (auto& b : bytes)
                b = static_cast<std::byte>(random());
        }
        const int result = Parse(bytes);
        ASSERT_TRUE(known.count(result)) << "round " << round << " gave " << result;
    }
}
