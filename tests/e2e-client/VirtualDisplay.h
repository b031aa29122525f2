#pragma once
// A virtual X server of the test's own (Xvfb), on a display number it picks itself, so that
// tests running side by side never share a pointer, a keyboard focus or a screen.

#include <memory>
#include <string>

#include "tools/testkit/ChildProcess.h"

namespace e2eclient {

using Milliseconds = ChildProcess::Milliseconds;

// Should the X server refuse a connection all the same (it runs with -noreset, which ends the
// refusals of a server resetting after its last client), whatever could not reach it tries
// again after a pause, for this long.
constexpr Milliseconds kDisplayPatience{15000};
constexpr Milliseconds kDisplayRetryPause{200};

class VirtualDisplay {
public:
    VirtualDisplay();  // starts Xvfb with a 1024 x 768 x 24 screen; check ok()
    bool ok() const { return !name_.empty(); }
    // ":N"
    const std::string& name() const { return name_; }
    std::string env() const { return "DISPLAY=" + name_; }

private:
    std::unique_ptr<ChildProcess> server_;
    std::string name_;
};

// Runs an X tool (xdotool, xwd, ...) against the display; its exit status.
int runOnDisplay(const VirtualDisplay& display, const std::string& program,
                 const std::vector<std::string>& args, Milliseconds timeout = Milliseconds(10000));

// Sends the close request a window manager would (WM_DELETE_WINDOW) to every top-level window
// that takes it; the number of windows asked.
int requestWindowClose(const VirtualDisplay& display);

}  // namespace e2eclient
