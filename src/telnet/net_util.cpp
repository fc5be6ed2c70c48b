#include "telnet/net_util.h"

#include <sched.h>
#include <time.h>

std::uint32_t TickMs()
{
    timespec Now{};
    clock_gettime(CLOCK_MONOTONIC, &Now);
    const std::uint64_t Ms = static_cast<std::uint64_t>(Now.tv_sec) * 1000u
                             + static_cast<std::uint64_t>(Now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(Ms);  // modulo 2^32 by design
}

std::uint32_t TickDiff(std::uint32_t OldTick, std::uint32_t NewTick)
{
    if (OldTick == NewTick)
        return 0;
    if (OldTick <= NewTick)
        return NewTick - OldTick;
    // The counter wrapped (or the ticks came in the wrong order): shifting both
    // by half the range brings them onto the same side of the wrap.
    const std::uint32_t Half = 0x80000000u;
    const std::uint32_t ShiftedOld = OldTick + Half;
    const std::uint32_t ShiftedNew = NewTick + Half;
    if (ShiftedOld > ShiftedNew)
        return ShiftedOld - ShiftedNew;
    return ShiftedNew - ShiftedOld;
}

void SleepMs(int Ms)
{
    if (Ms <= 0) {
        sched_yield();
        return;
    }
    timespec Wait{Ms / 1000, static_cast<long>(Ms % 1000) * 1000000L};
    while (nanosleep(&Wait, &Wait) != 0) {
        // interrupted: sleep the rest
    }
}

std::string TrimSpaces(const std::string& Value)
{
    const auto First = Value.find_first_not_of(' ');
    if (First == std::string::npos)
        return {};
    const auto Last = Value.find_last_not_of(' ');
    return Value.substr(First, Last - First + 1);
}

std::string SplitFirst(std::string& Value, const std::string& Delimiter)
{
    const auto At = Delimiter.empty() ? std::string::npos : Value.find(Delimiter);
    std::string Head;
    if (At == std::string::npos) {
        Head = Value;
        Value.clear();
    } else {
        Head = Value.substr(0, At);
        Value.erase(0, At + Delimiter.size());
    }
    Value = TrimSpaces(Value);
    return TrimSpaces(Head);
}

int FindLineEnd(const std::string& Value, std::string& LineEnd, std::size_t From)
{
    LineEnd.clear();
    const auto At = Value.find_first_of("\r\n", From);
    if (At == std::string::npos)
        return -1;
    const char First = Value[At];
    const char Partner = First == '\r' ? '\n' : '\r';
    if (At + 1 < Value.size() && Value[At + 1] == Partner)
        LineEnd = Value.substr(At, 2);
    else
        LineEnd = std::string(1, First);
    return static_cast<int>(At) + 1;
}
