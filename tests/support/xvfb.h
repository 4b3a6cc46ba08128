// A private X server for GUI tests, and the X tools that play the operator.
//
// Xvfb picks a free display number itself and writes it to the descriptor
// given with -displayfd, so parallel test programs never collide. The server
// is started with a fixed screen size and resolution; it dies with the
// object. DISPLAY is set for the whole process, which is what the console
// reads.
//
// The X tools (xdotool, xwininfo) run as child processes under `timeout`, so
// that a window that never appears fails the test in seconds instead of
// hanging it. Failures of the helpers throw std::runtime_error.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "ports/unique_fd.h"
#include "support/pty.h"

extern char** environ;

namespace tessel::test {

class Xvfb {
public:
    // width x height pixels at `dpi` dots per inch.
    Xvfb(int width, int height, int dpi) {
        int fds[2];
        if (::pipe(fds) != 0) throw std::runtime_error("pipe");
        UniqueFd readEnd(fds[0]), writeEnd(fds[1]);
        const std::string fd = std::to_string(fds[1]);
        const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
        const std::string dots = std::to_string(dpi);
        const char* argv[] = {"Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-dpi",
                              dots.c_str(), "-nolisten", "tcp", nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int rc = ::posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) throw std::runtime_error("cannot start Xvfb (scripts/setup-debian installs it)");
        writeEnd.reset();
        std::string number;
        char c = 0;
        while (WaitReadable(readEnd.get(), std::chrono::seconds(10)) && ::read(readEnd.get(), &c, 1) == 1 && c != '\n')
            number += c;
        if (number.empty()) throw std::runtime_error("Xvfb did not report its display");
        display_ = ":" + number;
        ::setenv("DISPLAY", display_.c_str(), 1);
    }
    ~Xvfb() {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    const std::string& Name() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

// Runs a shell command line; its standard output. Throws when it fails.
inline std::string RunCommand(const std::string& command) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("popen: " + command);
    std::string out;
    std::array<char, 512> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) out.append(buf.data(), n);
    if (::pclose(pipe) != 0) throw std::runtime_error("failed: " + command + "\n" + out);
    return out;
}

struct WindowGeometry {
    std::string id;
    int left = 0, top = 0, width = 0, height = 0;
};

// The visible window titled exactly `title`, waiting up to 5 s for it.
inline WindowGeometry FindWindow(const std::string& title) {
    WindowGeometry g;
    const std::string ids = RunCommand("timeout 5 xdotool search --sync --onlyvisible --name '^" + title + "$'");
    g.id = ids.substr(0, ids.find('\n'));
    const std::string info = RunCommand("timeout 5 xwininfo -id " + g.id);
    auto field = [&](const char* name) {
        const auto at = info.find(name);
        if (at == std::string::npos) throw std::runtime_error(std::string("xwininfo gave no ") + name);
        return std::stoi(info.substr(at + std::string(name).size()));
    };
    g.left = field("Absolute upper-left X:");
    g.top = field("Absolute upper-left Y:");
    g.width = field("Width:");
    g.height = field("Height:");
    return g;
}

// Whether a visible window titled `title` exists now.
inline bool WindowShown(const std::string& title) {
    return std::system(("xdotool search --onlyvisible --name '^" + title + "$' > /dev/null").c_str()) == 0;
}

// Keys to the window, after giving it the focus (without a window manager
// keys would go nowhere).
inline void Keys(const WindowGeometry& w, const std::string& keys) {
    RunCommand("timeout 5 xdotool windowfocus --sync " + w.id + " key --delay 20 " + keys);
}
inline void Type(const WindowGeometry& w, const std::string& text) {
    RunCommand("timeout 5 xdotool windowfocus --sync " + w.id + " type --delay 20 '" + text + "'");
}
// A click at (x, y) of the window's client area.
inline void Click(const WindowGeometry& w, int x, int y) {
    RunCommand("timeout 5 xdotool mousemove --sync --window " + w.id + " " + std::to_string(x) + " " + std::to_string(y) +
        " click 1");
}

}  // namespace tessel::test
