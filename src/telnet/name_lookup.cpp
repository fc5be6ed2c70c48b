#include "telnet/name_lookup.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

std::atomic<int> RunningCount{0};

}  // namespace

struct TNameLookup::TState {
    std::mutex Lock;
    std::condition_variable Answered;
    bool Done = false;
    int Result = 0;
    TAddressRecord Address{};
};

TNameLookup::TNameLookup(const std::string& IP, const std::string& Port, int Family,
                         int SockProtocol, int SockType, bool PreferIP4)
    : FState(std::make_shared<TState>())
{
    // Take a place first, so two callers cannot both see the last one free.
    if (RunningCount.fetch_add(1) >= MaxRunning) {
        RunningCount.fetch_sub(1);
        FState->Done = true;
        FState->Result = ErrTryAgain;
        return;
    }
    try {
        // The thread gets copies of everything it reads and a share of the
        // state it writes: nothing of the caller's may be touched once the
        // caller has stopped waiting.
        std::thread([State = FState, IP, Port, Family, SockProtocol, SockType, PreferIP4] {
            TAddressRecord Address{};
            const int Result = FillAddress(Address, IP, Port, Family, SockProtocol, SockType, PreferIP4);
            // The place is given back before the answer is told, so a
            // caller that has its answer sees this thread counted out.
            RunningCount.fetch_sub(1);
            {
                std::lock_guard<std::mutex> Guard(State->Lock);
                State->Done = true;
                State->Result = Result;
                State->Address = Address;
            }
            State->Answered.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: a lookup now could only block, so it fails.
        RunningCount.fetch_sub(1);
        FState->Done = true;
        FState->Result = ErrTryAgain;
    }
}

TNameLookup::~TNameLookup() = default;

bool TNameLookup::WaitFor(int Ms)
{
    std::unique_lock<std::mutex> Guard(FState->Lock);
    return FState->Answered.wait_for(Guard, std::chrono::milliseconds(Ms < 0 ? 0 : Ms),
                                     [this] { return FState->Done; });
}

int TNameLookup::Result() const
{
    std::lock_guard<std::mutex> Guard(FState->Lock);
    return FState->Result;
}

TAddressRecord TNameLookup::Address() const
{
    std::lock_guard<std::mutex> Guard(FState->Lock);
    return FState->Address;
}

int TNameLookup::Running()
{
    return RunningCount.load();
}
