// Recognising numeric IPv4 and IPv6 address texts, so the resolver can pick
// the address family from the text alone before asking the name service.
#pragma once

#include <string>

// Four dot-separated decimal fields 0 to 255 (leading zeros allowed, spaces
// around fields ignored).
bool IsIPv4Text(const std::string& Value);

// Colon-separated hexadecimal fields 0 to FFFF, at most eight, at most one
// "::" run, an optional "%zone" (hexadecimal) after the last field. "::" alone
// is accepted; a text ending in "::" or a single field is not.
bool IsIPv6Text(const std::string& Value);
