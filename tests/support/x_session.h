// Driving real programs on a real X server: a private Xvfb that picks its
// own free display, and the pointer and keyboard through xdotool.
#pragma once

#include "support/child_process.h"

#include <string>
#include <vector>

namespace support {

// A private X server on the first free display, chosen by the server itself
// (-displayfd), so parallel runs never collide. Its output goes nowhere: it
// never holds the test's own output open.
class Xvfb {
public:
    bool Start(int width = 1280, int height = 1024);
    void Stop() { FServer.Stop(); }
    const std::string& Display() const { return FDisplay; } // ":N"
    std::string error;

private:
    ChildProcess FServer;
    std::string FDisplay;
};

// xdotool on `display`.
class XDoTool {
public:
    explicit XDoTool(std::string display) : FDisplay(std::move(display)) {}
    CommandResult Run(const std::vector<std::string>& args, Milliseconds timeout = Milliseconds(20000)) const;

    // The first visible window whose title is exactly `title`, waiting for it
    // to appear; empty on time-out.
    std::string WaitForWindow(const std::string& title, Milliseconds timeout) const;
    // Outer position and size of a window; false when it is unknown.
    bool WindowGeometry(const std::string& window, int* x, int* y, int* w, int* h) const;
    bool MoveTo(int x, int y) const;
    bool ClickAt(int x, int y) const;
    bool Type(const std::string& text) const;
    bool Key(const std::string& keys) const;

private:
    std::string FDisplay;
};

} // namespace support
