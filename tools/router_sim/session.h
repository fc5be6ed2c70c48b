// One telnet connection to the simulated router: negotiation, login, and the
// command line with its two line-data commands. Runs on its own thread and
// blocks; every wait also watches the stop pipe, so a stop request ends it
// at once.
#pragma once

#include "router_sim/figure_model.h"
#include "router_sim/line_model.h"
#include "router_sim/options.h"
#include "router_sim/reply_text.h"
#include "router_sim/telnet_input.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace routersim {

// Appends what was served to the --served file, one whole line at a time.
class ServedLog {
public:
    explicit ServedLog(std::string path) : FPath(std::move(path)) {}
    void Record(ReplyKind kind, const BitLoading& bits);
    // "line" and the bits of every tone of another family's line.
    void RecordLine(const std::vector<int>& bits);
    // "snr", "qln" or "hlog" and every tone's value, "-" where not measured.
    void RecordSpectrum(const char* name, const std::vector<double>& values);
    // "command" and a command line as the client sent it.
    void RecordCommand(const std::string& command);
    void RecordTerminalType(const std::string& name);
    // "figures" and name=value for each, tab-separated.
    void RecordFigures(const PrintedFigures& figures);
    // "session N" when a connection is taken, N the sessions open with it,
    // so tests can count connections and see two at once.
    void RecordSession(int open);

private:
    void AppendLine(const std::string& line);
    std::mutex FMutex;
    std::string FPath;
};

// What all connections share.
struct Router {
    Options options;
    LineModel model;
    ServedLog served;
    std::atomic<std::uint32_t> nextReading{0};
    int stopFd = -1; // readable once the simulator is asked to stop

    explicit Router(Options o)
        : options(std::move(o)), model(options.seed), served(options.servedPath) {}
};

class Session {
public:
    Session(int fd, Router& router);
    // Talks to the client until it leaves, a fault ends the talk, or the
    // simulator stops. Does not close the socket.
    void Run();

private:
    enum class Echo { Plain, Stars };

    bool SendText(std::string_view text);          // 255 doubled
    bool SendCommand(std::string_view bytes);      // telnet command bytes as they are
    bool SendPackets(std::string_view wire, std::size_t chunk);
    bool WriteAll(std::string_view bytes);
    bool Pause(int ms);
    // Blocks until the client's socket is ready for events; false when a
    // stop is requested or the wait itself fails.
    bool WaitReady(short events);
    bool ReadMore();
    std::optional<std::string> ReadLine(Echo echo);
    // Sends a reply, `header` and then `table`, with the faults that hit
    // `kind`: cut off, stalled, running on for ever over `runOn` (lines with
    // their CR LF) or with telnet commands inside. False when the session
    // ends there.
    bool SendReply(ReplyKind kind, const std::string& header, const std::string& table,
                   const std::vector<std::string>& runOn);
    bool ServeReply(ReplyKind kind);
    // The other families: their login, shell steps and command line.
    void RunFamily();
    bool ServeFamilyReply(const std::string& command, const std::string& reply, std::uint32_t faultSeed);
    bool WaitForClose();
    // Sends block after block for as long as the client takes them, never
    // reading; ends only with the connection or the fault's time limit.
    bool Flood(const std::string& block);
    // Milliseconds left before a never-ending fault gives up (-1: no limit).
    int MsLeft() const;
    // The line's figures for this session, as of the simulator's clock.
    const LineFigures& Figures();
    // A ZyXEL figure command's reply; false when the session ends there or
    // the command is none of them (`served` then false).
    bool ServeZyxelFigures(const std::string& command, bool& served);

    int FFd;
    Router& FRouter;
    TelnetInput FParser;
    std::string FPending;      // data bytes received and not yet used
    bool FSkipLineFeed = false; // the LF or NUL after a CR belongs to it
    bool FAskedType = false;
    bool FSentAny = false;
    bool FFloodAfterPrompt = false;
    std::optional<LineFigures> FFigures;
    PrintedFigures FServedFigures; // what the session printed of them so far
    // Set for faults that never end on their own: the connection is closed
    // when it comes, so the simulator stays bounded in time.
    std::optional<std::chrono::steady_clock::time_point> FFaultEnd;
};

} // namespace routersim
