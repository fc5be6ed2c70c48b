// Arbitrary byte streams through the telnet negotiation machine, fed whole
// and cut at fuzzer-chosen points: both feeds must give the same data and the
// same answers, data never grows, and every answer is a well-formed command.
#include "telnet/telnet_session.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Outcome {
    std::string Data;
    std::vector<std::string> Answers;
    TTelnetState State;
};

Outcome Run(const std::string& Stream, const std::vector<std::size_t>& Cuts)
{
    TTelnetMachine Machine;
    Outcome Out;
    const auto Sink = [&Out](const std::string& Answer) { Out.Answers.push_back(Answer); };
    std::size_t At = 0;
    for (const std::size_t Cut : Cuts) {
        if (Cut <= At || Cut > Stream.size())
            continue;
        Out.Data += Machine.Negotiate(Stream.substr(At, Cut - At), Sink);
        At = Cut;
    }
    Out.Data += Machine.Negotiate(Stream.substr(At), Sink);
    Out.State = Machine.NegState;
    return Out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
    if (Size < 1)
        return 0;
    // The first byte says how many cut points follow (each one byte, scaled
    // onto the stream); the rest is the stream.
    const std::size_t CutCount = std::min<std::size_t>(Data[0] % 8, Size - 1);
    const std::string Stream(reinterpret_cast<const char*>(Data + 1 + CutCount), Size - 1 - CutCount);
    std::vector<std::size_t> Cuts;
    std::size_t Last = 0;
    for (std::size_t I = 0; I < CutCount; ++I) {
        Last += Data[1 + I];
        Cuts.push_back(Last);
    }

    const Outcome Whole = Run(Stream, {});
    const Outcome Split = Run(Stream, Cuts);
    if (Whole.Data != Split.Data || Whole.Answers != Split.Answers || Whole.State != Split.State)
        std::abort();
    if (Whole.Data.size() > Stream.size())
        std::abort();
    for (const std::string& Answer : Whole.Answers) {
        if (Answer.size() < 3 || static_cast<unsigned char>(Answer[0]) != 255)
            std::abort();
    }
    return 0;
}
