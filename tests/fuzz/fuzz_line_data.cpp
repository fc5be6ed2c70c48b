// Any bytes as far and near replies: the decodings must never crash, never
// touch tone 0, and only ever produce bit counts 0 to 15.
#include "line/capture_buffer.h"
#include "line/line_data.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // The first byte chooses where the far reply ends and the near reply begins.
    const std::size_t split = size == 0 ? 0 : (static_cast<std::size_t>(data[0]) * size) / 256;
    const auto farReply = input.substr(0, split);
    const auto nearReply = input.substr(split);

    TZyxelToneTable tones;
    tones.fill(-1);
    TCaptureBuffer memo;
    memo.Append("xdsl debug bitloadinginfo");
    memo.Append(farReply);
    DecodeFarEnd(memo, tones);
    for (int t = 1; t <= 34; ++t) {
        if (tones[t] < 0 || tones[t] > 15)
            std::abort();
    }
    memo.Clear();
    memo.Append("xdsl debug bitloadinginfo");
    memo.Append(nearReply);
    DecodeNearEnd(memo, tones);
    if (tones[0] != -1)
        std::abort();
    for (int t = 1; t < ZyxelToneCount; ++t) {
        if (tones[t] < 0 || tones[t] > 15)
            std::abort();
    }
    return 0;
}
