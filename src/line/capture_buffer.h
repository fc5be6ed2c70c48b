// The capture buffer: the sampling cycle's scratch text for each telnet reply.
// A plain text of bytes with the line rules the decoding relies on: lines end
// in CR LF only, a final empty line does not count, a line reads as at most its
// first 4096 characters, and text handed in is taken only up to its first NUL.
#pragma once

#include <string>
#include <string_view>

class TCaptureBuffer {
public:
    static constexpr std::size_t MaxLineRead = 4096;

    const std::string& Text() const { return FText; }
    void SetText(std::string_view text);
    void Clear();

    int LineCount() const;
    std::string Line(int index) const;
    void SetLine(int index, std::string_view text);
    void Append(std::string_view line);

private:
    std::string FText;
};
