#include "telnet/ip_text.h"

#include "telnet/net_util.h"

namespace {

// A decimal field 0 to 255; leading zeros allowed.
bool IsByteText(const std::string& Field)
{
    if (Field.empty())
        return false;
    unsigned Value = 0;
    for (const char C : Field) {
        if (C < '0' || C > '9')
            return false;
        Value = Value * 10 + static_cast<unsigned>(C - '0');
        if (Value > 255)
            return false;
    }
    return true;
}

// A hexadecimal field 0 to FFFF; leading zeros allowed.
bool IsHexWordText(const std::string& Field)
{
    if (Field.empty())
        return false;
    unsigned Value = 0;
    for (const char C : Field) {
        unsigned Digit;
        if (C >= '0' && C <= '9')
            Digit = static_cast<unsigned>(C - '0');
        else if (C >= 'a' && C <= 'f')
            Digit = static_cast<unsigned>(C - 'a' + 10);
        else if (C >= 'A' && C <= 'F')
            Digit = static_cast<unsigned>(C - 'A' + 10);
        else
            return false;
        Value = Value * 16 + Digit;
        if (Value > 0xFFFF)
            return false;
    }
    return true;
}

}  // namespace

bool IsIPv4Text(const std::string& Value)
{
    std::string Rest = Value;
    for (int Field = 0; Field < 3; ++Field) {
        if (!IsByteText(SplitFirst(Rest, ".")))
            return false;
    }
    // What is left is the fourth field; a fifth would leave a dot in it.
    return IsByteText(Rest);
}

bool IsIPv6Text(const std::string& Value)
{
    if (Value == "::")
        return true;
    std::string Rest = Value;
    int Fields = 0;
    int EmptyFields = 0;
    bool Result = false;
    while (!Rest.empty()) {
        std::string Field = SplitFirst(Rest, ":");
        // A leading empty field is the first half of a leading "::"; any
        // other empty field marks a "::" run, and only one run is allowed.
        if (Field.empty() && Fields > 0)
            ++EmptyFields;
        if (EmptyFields > 1)
            return false;
        ++Fields;
        if (Field.empty())
            continue;  // an empty last field (a trailing "::") leaves Result false
        if (Fields > 8)
            return false;
        const bool Last = Rest.empty();
        if (Last) {
            const auto Percent = Field.find('%');
            if (Percent != std::string::npos) {
                if (!IsHexWordText(Field.substr(Percent + 1)))
                    return false;
                Field.erase(Percent);
            }
        }
        if (!IsHexWordText(Field))
            return false;
        if (Last)
            Result = !(Fields == 1 && EmptyFields == 0);
    }
    return Result;
}
