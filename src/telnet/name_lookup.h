// A name lookup the caller can stop waiting for.
//
// The system resolver blocks for as long as the name service takes: with a
// name server that never answers, that is its own retries and time-outs, far
// beyond a sampling cycle's deadline. So the lookup runs on a thread of its
// own and the caller waits for the answer in turns of its choosing, free to
// give up between them.
//
// Ownership: the answer lives in a state shared by the lookup object and its
// thread. A caller that gives up destroys the lookup and walks away; the
// thread finishes in its own time, writes into the shared state (never into
// anything the caller owns) and the last of the two to let go frees it.
// At most MaxRunning lookups run at once; beyond that a lookup fails at once
// instead of starting yet another thread the name service would hold.
#pragma once

#include "telnet/socket_api.h"

#include <memory>
#include <string>

class TNameLookup {
public:
    static constexpr int MaxRunning = 8;
    // What a lookup that cannot start, or is given up, reports: the
    // resolver's own "try again later" (EAI_AGAIN), the code it gives when
    // no name server answered in time.
    static constexpr int ErrTryAgain = 11002;

    // Starts looking up IP:Port as FillAddress does, with the same arguments.
    TNameLookup(const std::string& IP, const std::string& Port, int Family, int SockProtocol,
                int SockType, bool PreferIP4);
    ~TNameLookup();
    TNameLookup(const TNameLookup&) = delete;
    TNameLookup& operator=(const TNameLookup&) = delete;

    // Waits up to Ms for the answer; true once it has come.
    bool WaitFor(int Ms);
    // Once WaitFor is true: FillAddress's result and address.
    int Result() const;
    TAddressRecord Address() const;

    // Lookup threads still running, the given-up ones included.
    static int Running();

private:
    struct TState;
    std::shared_ptr<TState> FState;
};
