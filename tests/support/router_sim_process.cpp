#include "support/router_sim_process.h"

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifndef TIRVANE_ROUTER_SIM
#error "define TIRVANE_ROUTER_SIM as the path of tirvane-router-sim"
#endif

const char* RouterSimProcess::Path() { return TIRVANE_ROUTER_SIM; }

RouterSimProcess::RouterSimProcess(Options options)
    : FOptions(std::move(options))
{
    char path[] = "/tmp/tirvane-served-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0)
        throw std::runtime_error("RouterSimProcess: cannot create the served file");
    ::close(fd);
    FServedPath = path;

    std::vector<std::string> args = {Path(),
                                     "--address", FOptions.address,
                                     "--port", std::to_string(FOptions.port),
                                     "--password", FOptions.password,
                                     "--seed", std::to_string(FOptions.seed),
                                     "--served", FServedPath};
    if (!FOptions.username.empty()) {
        args.push_back("--username");
        args.push_back(FOptions.username);
    }
    if (FOptions.ttype)
        args.push_back("--ttype");
    args.insert(args.end(), FOptions.extraArgs.begin(), FOptions.extraArgs.end());

    // Wait for "listening on ...": generous, the machine may be busy.
    if (!FProcess.Start(args, {}, true)
        || !FProcess.WaitForLine("listening on ", support::Milliseconds(30000))) {
        const std::string said = FProcess.error.empty() ? FProcess.Output() : FProcess.error;
        Stop();
        throw std::runtime_error("RouterSimProcess: the simulator did not start on "
                                 + FOptions.address + " port " + std::to_string(FOptions.port)
                                 + (said.empty() ? std::string() : ": " + said));
    }
}

RouterSimProcess::~RouterSimProcess() { Stop(); }

int RouterSimProcess::Stop()
{
    if (!FServedPath.empty())
        std::remove(FServedPath.c_str());
    return FProcess.Stop();
}

std::vector<std::string> RouterSimProcess::ServedLines() const
{
    std::vector<std::string> lines;
    std::ifstream in(FServedPath);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::optional<std::array<int, 513>> RouterSimProcess::LastServed(const std::string& kind) const
{
    std::optional<std::array<int, 513>> last;
    for (const auto& line : ServedLines()) {
        std::istringstream in(line);
        std::string word;
        in >> word;
        if (word != kind)
            continue;
        std::array<int, 513> bits{};
        bool ok = true;
        for (int& b : bits)
            ok = ok && static_cast<bool>(in >> b);
        if (ok)
            last = bits;
    }
    return last;
}

std::optional<std::vector<int>> RouterSimProcess::LastServedLine() const
{
    std::optional<std::vector<int>> last;
    for (const auto& line : ServedLines()) {
        std::istringstream in(line);
        std::string word;
        in >> word;
        if (word != "line")
            continue;
        std::vector<int> bits;
        for (int b; in >> b;)
            bits.push_back(b);
        last = bits;
    }
    return last;
}

std::optional<std::map<std::string, std::string>> RouterSimProcess::LastServedFigures() const
{
    std::optional<std::map<std::string, std::string>> last;
    for (const auto& line : ServedLines()) {
        if (line.rfind("figures", 0) != 0)
            continue;
        std::map<std::string, std::string> figures;
        std::istringstream in(line.substr(7));
        for (std::string pair; std::getline(in, pair, '\t');)
            if (const auto eq = pair.find('='); eq != std::string::npos)
                figures[pair.substr(0, eq)] = pair.substr(eq + 1);
        last = figures;
    }
    return last;
}

std::optional<std::vector<double>> RouterSimProcess::LastServedSpectrum(const std::string& name) const
{
    std::optional<std::vector<double>> last;
    for (const auto& line : ServedLines()) {
        std::istringstream in(line);
        std::string word;
        in >> word;
        if (word != name)
            continue;
        std::vector<double> values;
        while (in >> word)
            values.push_back(word == "-" ? std::nan("") : std::stod(word));
        last = values;
    }
    return last;
}

std::vector<std::string> RouterSimProcess::Commands() const
{
    std::vector<std::string> commands;
    for (const auto& line : ServedLines())
        if (line.rfind("command ", 0) == 0)
            commands.push_back(line.substr(8));
    return commands;
}

std::array<int, 513> RouterSimProcess::ExpectedTones() const
{
    std::array<int, 513> tones{};
    const auto far = LastServed("far");
    const auto near = LastServed("near");
    for (int t = 1; t <= 512; ++t) {
        const auto& from = t <= 32 ? far : near;
        tones[static_cast<std::size_t>(t)] = from ? (*from)[static_cast<std::size_t>(t)] : 0;
    }
    return tones;
}

std::string RouterSimProcess::TerminalType() const
{
    std::string type;
    for (const auto& line : ServedLines()) {
        if (line.rfind("ttype ", 0) == 0)
            type = line.substr(6);
    }
    return type;
}

std::string RouterSimProcess::UniqueLoopbackAddress()
{
    static std::atomic<unsigned> calls{0};
    const unsigned n = calls++;
    const auto pid = static_cast<unsigned>(::getpid());
    return "127." + std::to_string(1 + n % 254) + "." + std::to_string((pid >> 8) & 255) + "."
        + std::to_string(pid & 255);
}

RouterSimProcess::Options RouterSimProcess::Family(const char* family, const char* profile, std::vector<std::string> extra)
{
    Options options;
    options.address = UniqueLoopbackAddress();
    options.extraArgs = {"--router", family, "--profile", profile};
    options.extraArgs.insert(options.extraArgs.end(), extra.begin(), extra.end());
    return options;
}
