#include "line/line_data.h"

#include <string>
#include <string_view>
#include <vector>

namespace {

// Where the cuts fall. The buffer holds the marker line "xdsl debug
// bitloadinginfo" with its CR LF (27 characters) before each reply, so the
// far reply's 118th character is the buffer's 145th and the near reply's
// 151st the buffer's 178th.
constexpr std::size_t FarSkip = 144;
constexpr std::size_t NearSkip = 177;
// Every table line opens with its label "tone %3d-%3d: ".
constexpr std::size_t LabelLength = 14;
constexpr int FarGroups = 17;
constexpr int NearGroups = 256;
constexpr int FarFirstTone = 1;
constexpr int NearFirstTone = 33;

constexpr std::string_view LineBreak = "\r\n";

bool IsTrimmed(char c)
{
    return static_cast<unsigned char>(c) <= 32;
}

std::string_view Trim(std::string_view s)
{
    std::size_t first = 0;
    std::size_t last = s.size();
    while (first < last && IsTrimmed(s[first]))
        ++first;
    while (last > first && IsTrimmed(s[last - 1]))
        --last;
    return s.substr(first, last - first);
}

// The router writes each byte as two hexadecimal digits; anything that is
// not a digit, and a digit that is not there, counts as 0.
int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;
}

std::string_view DropFront(std::string_view s, std::size_t count)
{
    return count >= s.size() ? std::string_view{} : s.substr(count);
}

// Reads `groups` bytes spaced three characters apart. Within a byte the second
// digit belongs to the lower, odd-numbered tone and the first to the one above
// it. Tones past the table's end are dropped.
void DecodeGroups(std::string_view data, int groups, int firstTone, TZyxelToneTable& tones)
{
    for (int k = 0; k < groups; ++k) {
        const std::size_t at = 3 * static_cast<std::size_t>(k);
        const auto group = at < data.size() ? Trim(data.substr(at, 2)) : std::string_view{};
        const int odd = firstTone + 2 * k;
        const int even = odd + 1;
        const int high = group.size() > 0 ? HexDigitValue(group[0]) : 0;
        const int low = group.size() > 1 ? HexDigitValue(group[1]) : 0;
        if (odd < ZyxelToneCount)
            tones[static_cast<std::size_t>(odd)] = low;
        if (even < ZyxelToneCount)
            tones[static_cast<std::size_t>(even)] = high;
    }
}

// The lines of a buffer text as the buffer counts them: split at CR LF, a final
// empty line not counted.
std::vector<std::string_view> SplitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto brk = text.find(LineBreak, start);
        if (brk == std::string_view::npos) {
            lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, brk - start));
        start = brk + LineBreak.size();
    }
    return lines;
}

} // namespace

TZyxelToneTable& ZyxelToneTable()
{
    static TZyxelToneTable table{};
    return table;
}

void DecodeFarEnd(TCaptureBuffer& memo, TZyxelToneTable& tones)
{
    const std::string rest = memo.Text().size() > FarSkip ? memo.Text().substr(FarSkip) : std::string{};
    memo.SetText(rest);

    memo.SetLine(0, DropFront(memo.Line(0), LabelLength));
    const std::string farData(Trim(memo.Line(0)));

    memo.Clear();
    memo.SetText(farData);
    DecodeGroups(farData, FarGroups, FarFirstTone, tones);
}

void DecodeNearEnd(TCaptureBuffer& memo, TZyxelToneTable& tones)
{
    const std::string_view all = memo.Text();
    const std::string_view text = all.size() > NearSkip ? all.substr(NearSkip) : std::string_view{};

    // Every line moves up one place without its label; the first line is
    // overwritten and the last stays where it was, whole, after its cut copy.
    // Built in one pass rather than line by line through the buffer, so long
    // replies cost linear time.
    const auto lines = SplitLines(text);
    std::string shifted;
    shifted.reserve(text.size());
    for (std::size_t a = 1; a < lines.size(); ++a) {
        const auto read = lines[a].substr(0, TCaptureBuffer::MaxLineRead);
        shifted.append(DropFront(read, LabelLength));
        shifted.append(LineBreak);
    }
    if (!lines.empty())
        shifted.append(lines.back());
    if (text.ends_with(LineBreak))
        shifted.append(LineBreak);

    const std::string nearText(Trim(shifted));
    std::string nearData;
    nearData.reserve(nearText.size());
    for (char c : nearText) {
        if (c != '\r' && c != '\n')
            nearData.push_back(c);
    }

    memo.SetText(nearText);
    DecodeGroups(nearData, NearGroups, NearFirstTone, tones);
}
