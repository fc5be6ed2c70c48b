#include "support/x_session.h"

#include <cstdlib>
#include <sstream>

namespace support {

bool Xvfb::Start(int width, int height)
{
    const std::string server = FindOnPath("Xvfb");
    if (server.empty()) {
        error = "Xvfb is not installed";
        return false;
    }
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    // The server writes its display number to descriptor 3 once it accepts
    // clients.
    std::string number;
    if (!FServer.Start({server, "-displayfd", "3", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"},
                       {}, true, true)) {
        error = FServer.error;
        return false;
    }
    FServer.WaitForLine("", Milliseconds(30000), &number);
    if (number.empty()) {
        error = "Xvfb did not report a display";
        FServer.Stop();
        return false;
    }
    FDisplay = ":" + number;
    return true;
}

CommandResult XDoTool::Run(const std::vector<std::string>& args, Milliseconds timeout) const
{
    static const std::string tool = FindOnPath("xdotool");
    std::vector<std::string> argv{tool};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv, {{"DISPLAY", FDisplay}}, timeout);
}

std::string XDoTool::WaitForWindow(const std::string& title, Milliseconds timeout) const
{
    const auto r = Run({"search", "--sync", "--onlyvisible", "--name", "^" + title + "$"}, timeout);
    if (r.exitCode != 0)
        return {};
    std::stringstream lines(r.output);
    std::string first;
    std::getline(lines, first);
    return first;
}

bool XDoTool::WindowGeometry(const std::string& window, int* x, int* y, int* w, int* h) const
{
    const auto r = Run({"getwindowgeometry", "--shell", window});
    if (r.exitCode != 0)
        return false;
    std::stringstream lines(r.output);
    std::string line;
    int found = 0;
    while (std::getline(lines, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        const int value = std::atoi(line.c_str() + eq + 1);
        if (key == "X") { *x = value; ++found; }
        else if (key == "Y") { *y = value; ++found; }
        else if (key == "WIDTH") { *w = value; ++found; }
        else if (key == "HEIGHT") { *h = value; ++found; }
    }
    return found == 4;
}

bool XDoTool::MoveTo(int x, int y) const
{
    return Run({"mousemove", "--sync", std::to_string(x), std::to_string(y)}).exitCode == 0;
}

bool XDoTool::ClickAt(int x, int y) const
{
    return MoveTo(x, y) && Run({"click", "1"}).exitCode == 0;
}

bool XDoTool::Type(const std::string& text) const
{
    return Run({"type", "--delay", "30", "--", text}).exitCode == 0;
}

bool XDoTool::Key(const std::string& keys) const
{
    return Run({"key", "--delay", "30", keys}).exitCode == 0;
}

} // namespace support
