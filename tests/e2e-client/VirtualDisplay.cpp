#include "tests/e2e-client/VirtualDisplay.h"

#include <X11/Xlib.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <thread>

namespace e2eclient {

namespace {

// Whether any X server, in this sandbox or another one sharing the network, listens for
// display n (by its socket's path or its abstract name).
bool displayTaken(int n) {
    std::ifstream sockets("/proc/net/unix");
    const std::string name = "/tmp/.X11-unix/X" + std::to_string(n);
    std::string line;
    while (std::getline(sockets, line)) {
        const std::size_t at = line.rfind(name);
        if (at != std::string::npos && at + name.size() == line.size()) {
            return true;
        }
    }
    return false;
}

}  // namespace

VirtualDisplay::VirtualDisplay() {
    // A high display number of its own: lock files are no guard against X servers of other
    // sandboxes, which share the abstract socket names.
    std::mt19937 random(
        static_cast<unsigned>(getpid()) ^
        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int attempt = 0; attempt < 10 && name_.empty(); ++attempt) {
        const int n = 1000 + static_cast<int>(random() % 30000);
        if (displayTaken(n)) {
            continue;
        }
        int ready[2];
        if (pipe(ready) != 0) {  // inherited: Xvfb writes its display number when it is ready
            return;
        }
        auto server = std::make_unique<ChildProcess>(
            ChildProcess::Options{findProgram("Xvfb"),
                                  {":" + std::to_string(n), "-displayfd", std::to_string(ready[1]),
                                   "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                                   // Without it the server resets whenever its last client
                                   // leaves (an X tool, or SDL's probe of the display) and
                                   // drops the connections that come meanwhile.
                                   "-noreset"},
                                  {},
                                  {}});
        close(ready[1]);
        std::string number;
        pollfd p{ready[0], POLLIN, 0};
        while (server->started() && poll(&p, 1, 10000) > 0) {
            char c = 0;
            if (read(ready[0], &c, 1) != 1 || c == '\n') {
                break;
            }
            number.push_back(c);
        }
        close(ready[0]);
        if (number == std::to_string(n)) {
            server_ = std::move(server);
            name_ = ":" + number;
        }
    }
}

int runOnDisplay(const VirtualDisplay& display, const std::string& program,
                 const std::vector<std::string>& args, Milliseconds timeout) {
    const auto giveUp = std::chrono::steady_clock::now() + kDisplayPatience;
    for (;;) {
        ChildProcess tool({findProgram(program), args, {display.env()}, {}});
        const int status = tool.waitForExit(timeout).value_or(-1);
        const std::string error = tool.errorOutput();
        const bool refused = error.find("open display") != std::string::npos ||
                             error.find("xdo instance") != std::string::npos;
        if (status == 0 || !refused || std::chrono::steady_clock::now() > giveUp) {
            return status;
        }
        std::fprintf(stderr, "%s could not open the X display; running it again\n",
                     program.c_str());
        std::this_thread::sleep_for(kDisplayRetryPause);
    }
}

int requestWindowClose(const VirtualDisplay& display) {
    Display* x = nullptr;
    const auto giveUp = std::chrono::steady_clock::now() + kDisplayPatience;
    while ((x = XOpenDisplay(display.name().c_str())) == nullptr &&
           std::chrono::steady_clock::now() < giveUp) {
        std::fprintf(stderr, "X display could not be opened; trying again\n");
        std::this_thread::sleep_for(kDisplayRetryPause);
    }
    if (x == nullptr) {
        return 0;
    }
    const Atom protocols = XInternAtom(x, "WM_PROTOCOLS", False);
    const Atom deleteWindow = XInternAtom(x, "WM_DELETE_WINDOW", False);
    ::Window root = 0;
    ::Window parent = 0;
    ::Window* children = nullptr;
    unsigned count = 0;
    int asked = 0;
    if (XQueryTree(x, DefaultRootWindow(x), &root, &parent, &children, &count) != 0) {
        for (unsigned i = 0; i < count; ++i) {
            Atom* list = nullptr;
            int n = 0;
            bool takesDelete = false;
            if (XGetWMProtocols(x, children[i], &list, &n) != 0) {
                for (int k = 0; k < n; ++k) {
                    takesDelete = takesDelete || list[k] == deleteWindow;
                }
                XFree(list);
            }
            if (!takesDelete) {
                continue;
            }
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = children[i];
            event.xclient.message_type = protocols;
            event.xclient.format = 32;
            event.xclient.data.l[0] = static_cast<long>(deleteWindow);
            event.xclient.data.l[1] = CurrentTime;
            XSendEvent(x, children[i], False, NoEventMask, &event);
            ++asked;
        }
        if (children != nullptr) {
            XFree(children);
        }
    }
    XSync(x, False);
    XCloseDisplay(x);
    return asked;
}

}  // namespace e2eclient
