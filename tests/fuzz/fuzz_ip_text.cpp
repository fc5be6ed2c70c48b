// Arbitrary texts through the address-text recognisers: no crash, no
// overflow, and no text is taken for both an IPv4 and an IPv6 address.
#include "telnet/ip_text.h"
#include "telnet/net_util.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
    const std::string Text(reinterpret_cast<const char*>(Data), Size);
    const bool V4 = IsIPv4Text(Text);
    const bool V6 = IsIPv6Text(Text);
    if (V4 && V6)
        std::abort();
    // An IPv4 text holds only digits, dots and spaces.
    if (V4 && Text.find_first_not_of("0123456789. ") != std::string::npos)
        std::abort();
    std::string Rest = Text;
    const std::string Head = SplitFirst(Rest, ":");
    if (Head.size() + Rest.size() > Text.size())
        std::abort();
    return 0;
}
