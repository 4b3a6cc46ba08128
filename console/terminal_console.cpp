#include "console/terminal_console.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "console/operator_console.h"

namespace tessel::console {
namespace {

// An Esc followed this soon by more bytes starts an escape sequence (an
// arrow key); a key typed by hand comes far later.
constexpr int kEscapeSequenceMs = 30;

// Non-canonical, no echo, for the life of the object; signals stay on so
// that Ctrl+C still reaches the host.
class KeyMode {
public:
    explicit KeyMode(int fd) : fd_(fd), saved_(::tcgetattr(fd, &old_) == 0) {
        if (!saved_) return;
        termios keys = old_;
        keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        keys.c_cc[VMIN] = 1;
        keys.c_cc[VTIME] = 0;
        ::tcsetattr(fd_, TCSANOW, &keys);
    }
    ~KeyMode() {
        if (saved_) ::tcsetattr(fd_, TCSANOW, &old_);
    }
    KeyMode(const KeyMode&) = delete;
    KeyMode& operator=(const KeyMode&) = delete;

private:
    int fd_;
    termios old_{};
    bool saved_;
};

void Write(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n > 0) {
            text.remove_prefix(static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 1000) <= 0) return;
        } else if (n < 0 && errno != EINTR) {
            return;  // a terminal that is gone: the read side ends the call
        }
    }
}

bool MoreWithin(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

enum class Key { Enter, Cancel, Erase, EraseAll, Text };

// The operator's keys, decoded from the bytes as they arrive.
class KeyReader {
public:
    explicit KeyReader(int fd) : fd_(fd) {}

    // Hands every key that has arrived to handle(key, byte) until it returns
    // true; the end of input is a Cancel. True once handle returned true.
    template <class Handle>
    bool Take(Handle&& handle) {
        char buf[256];
        for (;;) {
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
            if (n <= 0) return handle(Key::Cancel, '\0');
            for (ssize_t i = 0; i < n; ++i) {
                const bool last = i + 1 == n;
                if (Decode(buf[i], last, handle)) return true;
            }
        }
    }

private:
    template <class Handle>
    bool Decode(char c, bool last, Handle& handle) {
        switch (state_) {
        case State::Escape:
            state_ = c == '[' ? State::Csi : c == 'O' ? State::Ss3 : State::Plain;
            return false;
        case State::Csi:
            if (c >= 0x40 && c <= 0x7e) state_ = State::Plain;
            return false;
        case State::Ss3:
            state_ = State::Plain;
            return false;
        case State::Plain:
            break;
        }
        switch (c) {
        case '\x1b':
            if (!last || MoreWithin(fd_, kEscapeSequenceMs)) {
                state_ = State::Escape;
                return false;
            }
            return handle(Key::Cancel, c);
        case '\r':
        case '\n':
            return handle(Key::Enter, c);
        case '\x04':  // Ctrl+D: end of input
            return handle(Key::Cancel, c);
        case '\x7f':
        case '\b':
            return handle(Key::Erase, c);
        case '\x15':  // Ctrl+U
            return handle(Key::EraseAll, c);
        default:
            if (static_cast<unsigned char>(c) >= 0x20) return handle(Key::Text, c);
            return false;  // other control keys mean nothing here
        }
    }

    enum class State { Plain, Escape, Csi, Ss3 };
    int fd_;
    State state_ = State::Plain;
};

std::string Heading(const std::string& title) { return title.empty() ? "\n" : "\n[" + title + "]\n"; }

// Characters in UTF-8 text: what the terminal shows one column for each.
std::size_t Columns(std::string_view text) {
    std::size_t n = 0;
    for (char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

std::string Rubout(std::size_t columns) {
    std::string out;
    for (std::size_t i = 0; i < columns; ++i) out += "\b \b";
    return out;
}

}  // namespace

UniqueFd OpenControllingTerminal(std::string& why) {
    UniqueFd fd(::open("/dev/tty", O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) why = std::string("no controlling terminal (/dev/tty: ") + std::strerror(errno) + ")";
    return fd;
}

bool ShowMessageTerminal(int fd, const std::string& title, const std::string& message) {
    KeyMode mode(fd);
    Write(fd, Heading(title) + message + "\nOK/Cancel (Enter = OK, Esc = Cancel) ");
    KeyReader keys(fd);
    bool cancel = true;
    WaitForOperator(fd, [&] {
        return keys.Take([&](Key key, char) {
            if (key != Key::Enter && key != Key::Cancel) return false;
            cancel = key == Key::Cancel;
            return true;
        });
    });
    Write(fd, cancel ? "Cancel\n" : "OK\n");
    return cancel;
}

std::string InputBoxTerminal(int fd, const std::string& prompt, const std::string& title,
                             const std::string& defaultAnswer) {
    KeyMode mode(fd);
    Write(fd, Heading(title) + prompt + "\n> " + defaultAnswer);
    KeyReader keys(fd);
    std::string answer = defaultAnswer;
    bool untouched = true;  // the default goes at the first key, as a selected field's would
    bool cancel = true;
    WaitForOperator(fd, [&] {
        return keys.Take([&](Key key, char c) {
            if (untouched && key != Key::Enter && key != Key::Cancel) {
                Write(fd, Rubout(Columns(answer)));
                answer.clear();
                untouched = false;
            }
            switch (key) {
            case Key::Enter:
            case Key::Cancel:
                cancel = key == Key::Cancel;
                return true;
            case Key::Text:
                answer += c;
                Write(fd, std::string_view(&c, 1));
                return false;
            case Key::Erase:
                if (!answer.empty()) {
                    while (!answer.empty() && (static_cast<unsigned char>(answer.back()) & 0xC0) == 0x80)
                        answer.pop_back();
                    if (!answer.empty()) answer.pop_back();
                    Write(fd, Rubout(1));
                }
                return false;
            case Key::EraseAll:
                Write(fd, Rubout(Columns(answer)));
                answer.clear();
                return false;
            }
            return false;
        });
    });
    Write(fd, "\n");
    return cancel ? std::string() : answer;
}

}  // namespace tessel::console
