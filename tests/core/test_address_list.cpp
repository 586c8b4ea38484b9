// The address lists of the address boxes and the command line: how a text is
// split, which pieces are addresses, and that an accepted address has one
// reading everywhere the program turns its text into a number.

#include "channel/EventCodes.h"
#include "channel/PeerAddress.h"
#include "core/AddressList.h"
#include "events/Event.h"

#include <gtest/gtest.h>

namespace {

using Strings = std::vector<std::string>;

TEST(AddressList, SplitsAtSpacesAndSemicolonsAndKeepsTheOrder)
{
    const core::AddressList list = core::ParseAddressList("10.0.0.1; 10.0.0.2 300.1.1.1;;  ;");
    EXPECT_EQ(list.addresses, (Strings{"10.0.0.1", "10.0.0.2"}));
    EXPECT_EQ(list.refused, (Strings{"300.1.1.1"}));
    EXPECT_FALSE(list.Complete());
    EXPECT_TRUE(core::ParseAddressList(" 198.18.0.1 ").Complete());
    EXPECT_FALSE(core::ParseAddressList("").Complete()) << "no piece at all";
    EXPECT_FALSE(core::ParseAddressList(" ; ").Complete());
    EXPECT_EQ(core::AddressErrorText("1.2.3"), "Адрес 1.2.3 содержит ошибку");
}

TEST(AddressList, APieceIsFourPlainDecimalNumbersUpTo255)
{
    for (const char* valid : {"0.0.0.0", "127.0.0.1", "255.255.255.254", "10.200.30.4",
                              "198.18.0.10", "1.0.0.0"})
        EXPECT_TRUE(core::IsValidListAddress(valid)) << valid;
    for (const char* invalid :
         {"255.255.255.255", "300.1.1.1", "1.2.3", "1.2.3.4.5", "1..2.3", ".1.2.3", "1.2.3.",
          "0x7f.0.0.1", "1.2.3.-4", "+1.2.3.4", "1.2.3.4\t", "a.b.c.d", "1234.1.1.1",
          "999999999999.1.1.1", "0127.0.0.1"})
        EXPECT_FALSE(core::IsValidListAddress(invalid)) << invalid;
    EXPECT_FALSE(core::IsValidListAddress(std::string("1.2.3.4\0junk", 12)))
        << "the whole text counts, not its C string";
}

// inet_addr read "127.0.0.010" as 127.0.0.8 (octal) while the probe read it as
// 127.0.0.10: the results were then looked up under the wrong address.
TEST(AddressList, LeadingZerosAreRefusedNotReadEitherWay)
{
    for (const char* ambiguous : {"127.0.0.010", "010.0.0.1", "127.000.0.1", "10.0.0.00"}) {
        EXPECT_FALSE(core::IsValidListAddress(ambiguous)) << ambiguous;
        EXPECT_EQ(core::ParseAddressList(ambiguous).refused, (Strings{ambiguous}));
    }
}

TEST(AddressList, AnAcceptedAddressReadsTheSameEverywhere)
{
    for (const char* text : {"0.0.0.0", "127.0.0.10", "198.18.41.2", "255.0.255.1"}) {
        std::uint32_t listed = 0;
        ASSERT_TRUE(core::IsValidListAddress(text, listed)) << text;
        channel::PeerAddress peer;
        ASSERT_TRUE(channel::ParseAddress(peer, text));
        EXPECT_EQ(peer.address, listed) << text;
        EXPECT_STREQ(peer.text, text);
        EXPECT_EQ(channel::AddressText(listed), text);
        EXPECT_EQ(events::AddressOfText(text), listed) << "the event record's reading";
    }
    EXPECT_EQ(events::AddressOfText("127.0.0.010"), events::AddressOfText("127.0.0.10"))
        << "a record of such a text reads it as the probe does: decimal";
    EXPECT_EQ(events::AddressOfText(""), 0u);
    EXPECT_EQ(events::AddressOfText("nonsense"), 0xFFFFFFFFu);
}

} // namespace
