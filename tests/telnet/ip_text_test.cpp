// Address texts: which texts are IPv4 and IPv6 addresses, checked against
// tables.
#include "telnet/ip_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct TextCase {
    const char* Text;
    bool Expected;
};

void PrintTo(const TextCase& C, std::ostream* Out) { *Out << '"' << C.Text << '"'; }

class IPv4Texts : public testing::TestWithParam<TextCase> {};
TEST_P(IPv4Texts, Recognised) { EXPECT_EQ(IsIPv4Text(GetParam().Text), GetParam().Expected); }
INSTANTIATE_TEST_SUITE_P(Table, IPv4Texts,
                         testing::Values(TextCase{"192.168.1.1", true}, TextCase{"0.0.0.0", true},
                                         TextCase{"010.1.1.1", true}, TextCase{"255.255.255.255", true},
                                         TextCase{" 1 . 2 . 3 . 4 ", true}, TextCase{"192.168.1", false},
                                         TextCase{"256.1.1.1", false}, TextCase{"1.2.3.4.5", false},
                                         TextCase{"1.2.3.x", false}, TextCase{"", false},
                                         TextCase{"1..2.3", false}, TextCase{"1.2.3.-4", false},
                                         TextCase{"00000000000000000001.2.3.4", true},
                                         TextCase{"99999999999999999999.2.3.4", false}));

class IPv6Texts : public testing::TestWithParam<TextCase> {};
TEST_P(IPv6Texts, Recognised) { EXPECT_EQ(IsIPv6Text(GetParam().Text), GetParam().Expected); }
INSTANTIATE_TEST_SUITE_P(
    Table, IPv6Texts,
    testing::Values(TextCase{"::", true}, TextCase{"::1", true}, TextCase{"fe80::1%4", true},
                    TextCase{"2001:db8:0:0:0:0:0:1", true}, TextCase{"FE80::ABCD", true},
                    TextCase{"fe80::", false}, TextCase{"1:2:3:4:5:6:7:8:9", false}, TextCase{"1::2::3", false},
                    TextCase{"router", false}, TextCase{"abc", false}, TextCase{"", false},
                    TextCase{"fe80::1%eth0", false}, TextCase{"fe80::1%", false}, TextCase{"1:2::10000", false},
                    TextCase{"192.168.1.1", false}, TextCase{"::1::", false}));

}  // namespace
