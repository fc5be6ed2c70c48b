// The Draytek replies of a cycle, cut at each byte 0x01 in the order the
// dialogue asks for them.
#include "family_parser_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzFamily(TRouterFamily::Draytek, data, size);
    return 0;
}
