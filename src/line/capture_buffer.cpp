#include "line/capture_buffer.h"

#include <algorithm>

namespace {

constexpr std::string_view LineBreak = "\r\n";

// Everything handed to the buffer is taken only up to its first NUL: the
// rest, including any line break an append would add, is lost.
std::string_view UpToNul(std::string_view text)
{
    const auto nul = text.find('\0');
    return nul == std::string_view::npos ? text : text.substr(0, nul);
}

} // namespace

void TCaptureBuffer::SetText(std::string_view text)
{
    FText.assign(UpToNul(text));
}

void TCaptureBuffer::Clear()
{
    FText.clear();
}

int TCaptureBuffer::LineCount() const
{
    int breaks = 0;
    std::size_t pos = 0;
    std::size_t lastStart = 0;
    while ((pos = FText.find(LineBreak, pos)) != std::string::npos) {
        ++breaks;
        pos += LineBreak.size();
        lastStart = pos;
    }
    // A final empty line (text ending in CR LF, or no text at all) does not count.
    return breaks + (lastStart < FText.size() ? 1 : 0);
}

namespace {

// Start and length of line `index` within `text`, or npos when it does not exist.
struct LineSpan {
    std::size_t start = std::string::npos;
    std::size_t length = 0;
};

LineSpan FindLine(const std::string& text, int index)
{
    if (index < 0 || text.empty())
        return {};
    std::size_t start = 0;
    for (int i = 0; i < index; ++i) {
        const auto brk = text.find(LineBreak, start);
        if (brk == std::string::npos)
            return {};
        start = brk + LineBreak.size();
    }
    // The empty remainder after a final CR LF is not a line.
    if (start == text.size())
        return {};
    const auto brk = text.find(LineBreak, start);
    const auto end = brk == std::string::npos ? text.size() : brk;
    return {start, end - start};
}

} // namespace

std::string TCaptureBuffer::Line(int index) const
{
    const auto span = FindLine(FText, index);
    if (span.start == std::string::npos)
        return {};
    return FText.substr(span.start, std::min(span.length, MaxLineRead));
}

void TCaptureBuffer::SetLine(int index, std::string_view text)
{
    const auto span = FindLine(FText, index);
    if (span.start == std::string::npos)
        return;
    FText.replace(span.start, span.length, UpToNul(text));
}

void TCaptureBuffer::Append(std::string_view line)
{
    const auto kept = UpToNul(line);
    const bool cut = kept.size() != line.size();
    const bool atLineStart = FText.empty() || FText.ends_with(LineBreak);
    if (!atLineStart)
        FText.append(LineBreak);
    FText.append(kept);
    // A NUL in the line swallows the line break that would have followed it.
    if (atLineStart && !cut)
        FText.append(LineBreak);
}
