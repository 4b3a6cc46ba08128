// tessel shell: an interactive session with ports, one command per line.
//
// Lines are read with libedit (editing, history). While a command waits,
// Ctrl+C asks the drivers to stop through the host control: the wait ends
// quietly, the shell says "stopped" and reads the next line. Ctrl+D on an
// empty line leaves.
//
// Read from a script rather than a terminal, the shell ends at the first
// command that fails or is stopped, with status 1, as a one-shot command
// does: later lines were written on the assumption that it worked.
#include <histedit.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"

namespace tessel::cli {
namespace {

constexpr int kHistoryLines = 1000;

class Session;

struct ShellCommand {
    const char* name;
    const char* arguments;
    const char* help;
    void (Session::*run)(const std::string& rest);
};

class Session {
public:
    int Run(const ShellOptions& options);

    void Open(const std::string& rest);
    void Use(const std::string& rest);
    void Close(const std::string& rest);
    void Ports(const std::string& rest);
    void Send(const std::string& rest);
    void Query(const std::string& rest);
    void SendE(const std::string& rest);
    void Read(const std::string& rest);
    void TimeOut(const std::string& rest);
    void Get(const std::string& rest);
    void Set(const std::string& rest);
    void Call(const std::string& rest);
    void Help(const std::string& rest);
    void Quit(const std::string& rest);

    const std::string& Prompt() const { return prompt_; }

private:
    // False when the command failed, was stopped or is unknown.
    bool Execute(const std::string& line);
    OpenedPort& Current();
    void UpdatePrompt();
    static void PrintReply(const std::string& reply);

    std::vector<OpenedPort> ports_;
    std::size_t current_ = 0;  // index into ports_ when it is not empty
    std::string prompt_;
    bool quit_ = false;
};

constexpr ShellCommand kShellCommands[] = {
    {"open", "PORT", "open a port given as one string and make it current", &Session::Open},
    {"use", "N", "make the port numbered N by `ports` current", &Session::Use},
    {"close", "", "take the current port off-line and forget it", &Session::Close},
    {"ports", "", "list the open ports", &Session::Ports},
    {"send", "TEXT", "send TEXT with the port's terminator", &Session::Send},
    {"query", "TEXT", "send TEXT and print the reply", &Session::Query},
    {"sende", "TEXT", "checked send: raise the instrument's errors; print a query's reply", &Session::SendE},
    {"read", "", "wait for one reply and print it", &Session::Read},
    {"timeout", "[SECONDS]", "show or set the current port's time-out", &Session::TimeOut},
    {"get", "[NAME]", "show all settings, or one", &Session::Get},
    {"set", "NAME=VALUE", "change a setting; an open port is reopened with it", &Session::Set},
    {"call", "MEMBER [ARG...]", "call a member of the current port's object by name", &Session::Call},
    {"help", "", "this list", &Session::Help},
    {"quit", "", "leave (so does Ctrl+D)", &Session::Quit},
};

std::string Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

OpenedPort& Session::Current() {
    if (ports_.empty()) throw Failure("no port is open; open one with: open PORT");
    return ports_[current_];
}

void Session::UpdatePrompt() { prompt_ = ports_.empty() ? "tessel> " : "tessel " + ports_[current_].name + "> "; }

void Session::PrintReply(const std::string& reply) { std::cout << reply << std::endl; }

void Session::Open(const std::string& rest) {
    if (rest.empty()) throw Failure("open takes a port, e.g. open tcp:127.0.0.1:5025");
    ports_.push_back(OpenPort(PortOptions{rest, {}, {}}));
    current_ = ports_.size() - 1;
}

void Session::Use(const std::string& rest) {
    std::size_t n = 0;
    std::istringstream in(rest);
    if (!(in >> n) || n < 1 || n > ports_.size())
        throw Failure("use takes a number from `ports`, 1 to " + std::to_string(ports_.size()));
    current_ = n - 1;
}

void Session::Close(const std::string&) {
    Current().setup->OnLine(false);
    ports_.erase(ports_.begin() + static_cast<std::ptrdiff_t>(current_));
    current_ = 0;
}

void Session::Ports(const std::string&) {
    for (std::size_t i = 0; i < ports_.size(); ++i)
        std::cout << (i == current_ ? "* " : "  ") << i + 1 << " " << ports_[i].name << "\n";
}

void Session::Send(const std::string& rest) { Current().io->Send(rest); }

void Session::Query(const std::string& rest) {
    const std::string reply = Current().io->Receive(Variant(rest));
    if (!CurrentHostControl().StopRequested()) PrintReply(reply);
}

void Session::SendE(const std::string& rest) {
    const std::string reply = CheckedSend(*Current().io, rest);
    if (!reply.empty()) PrintReply(reply);
}

void Session::Read(const std::string&) {
    const std::string reply = Current().io->Receive();
    if (!CurrentHostControl().StopRequested()) PrintReply(reply);
}

void Session::TimeOut(const std::string& rest) {
    IPort& io = *Current().io;
    if (!rest.empty()) io.TimeOut(Variant(rest).ToSingle());
    std::cout << Variant(io.TimeOut()).ToString() << " s\n";
}

void Session::Get(const std::string& rest) {
    auto settings = Current().setup->Settings();
    if (rest.empty())
        PrintSettings(*settings);
    else
        std::cout << settings->Item(rest)->Value(-1, -1).ToString() << "\n";
}

void Session::Set(const std::string& rest) {
    if (rest.find('=') == std::string::npos) throw Failure("set takes NAME=VALUE, not " + rest);
    IPortSetup& setup = *Current().setup;
    const auto setting = setup.Settings()->Item(rest.substr(0, rest.find('=')));
    const Variant before = setting->Value(-1, -1);
    ApplySetting(*setup.Settings(), rest);
    // The drivers read their settings when they go on-line. A value the
    // driver refuses is taken back, so that the port stays usable.
    if (!setup.OnLine()) return;
    setup.OnLine(false);
    try {
        setup.OnLine(true);
    } catch (const ComError&) {
        setting->Value(-1, -1, before);
        setup.OnLine(true);
        throw;
    }
}

void Session::Call(const std::string& rest) {
    std::istringstream in(rest);
    std::string member;
    std::vector<std::string> arguments;
    in >> member;
    for (std::string a; in >> a;) arguments.push_back(a);
    if (member.empty()) throw Failure("call takes a member name");
    PrintReply(CallMember(Current().object, member, arguments));
}

void Session::Help(const std::string&) {
    for (const ShellCommand& c : kShellCommands) {
        std::string head = std::string(c.name) + " " + c.arguments;
        head.resize(std::max<std::size_t>(head.size(), 22), ' ');
        std::cout << "  " << head << c.help << "\n";
    }
    std::cout << "Ports: serial:1, serial:/dev/ttyUSB0?baud=19200, tcp:HOST:PORT, gpib:BOARD:ADDRESS.\n"
                 "Ctrl+C ends a wait, Ctrl+D leaves.\n";
}

void Session::Quit(const std::string&) { quit_ = true; }

bool Session::Execute(const std::string& line) {
    const auto split = line.find_first_of(" \t");
    const std::string word = line.substr(0, split);
    const std::string rest = split == std::string::npos ? std::string() : Trimmed(line.substr(split));
    for (const ShellCommand& c : kShellCommands) {
        if (word != c.name) continue;
        DefaultHostControl().Reset();
        // One command failing leaves the session as it was.
        bool ok = Guarded([&] {
                      (this->*c.run)(rest);
                      return 0;
                  }) == 0;
        if (CurrentHostControl().StopRequested()) {
            std::cerr << "stopped\n";
            ok = false;
        }
        DefaultHostControl().Reset();
        UpdatePrompt();
        return ok;
    }
    std::cerr << "unknown command \"" << word << "\"; `help` lists them\n";
    return false;
}

const char* PromptOf(EditLine* el) {
    void* data = nullptr;
    el_get(el, EL_CLIENTDATA, &data);
    return static_cast<Session*>(data)->Prompt().c_str();
}

struct EditLineDeleter {
    void operator()(EditLine* el) const { el_end(el); }
};
struct HistoryDeleter {
    void operator()(History* h) const { history_end(h); }
};

int Session::Run(const ShellOptions& options) {
    const bool interactive = ::isatty(STDIN_FILENO) == 1;
    // A script has no prompt to come back to: its Ctrl+C ends it, and a second
    // one ends it at once, as with a one-shot command.
    InstallInterruptHandler(interactive ? Interrupts::Repeatedly : Interrupts::Once);
    if (options.port) {
        ports_.push_back(OpenPort(*options.port));
        current_ = 0;
    }
    UpdatePrompt();

    std::unique_ptr<History, HistoryDeleter> lines(history_init());
    HistEvent event;
    history(lines.get(), &event, H_SETSIZE, kHistoryLines);
    history(lines.get(), &event, H_SETUNIQUE, 1);
    std::unique_ptr<EditLine, EditLineDeleter> el(el_init("tessel", stdin, stdout, stderr));
    el_set(el.get(), EL_CLIENTDATA, this);
    el_set(el.get(), EL_PROMPT, PromptOf);
    el_set(el.get(), EL_EDITOR, "emacs");
    el_set(el.get(), EL_HIST, history, lines.get());

    int status = 0;
    while (!quit_) {
        int count = 0;
        const char* got = el_gets(el.get(), &count);
        if (got == nullptr || count <= 0) {
            if (interactive) std::cout << "\n";  // past the prompt Ctrl+D left
            break;
        }
        const std::string line = Trimmed(got);
        if (line.empty()) continue;
        history(lines.get(), &event, H_ENTER, line.c_str());
        if (interactive) {
            Execute(line);
            continue;
        }
        // A Ctrl+C between two of a script's commands counts as well: the
        // next command's reset would lose it.
        if (CurrentHostControl().StopRequested()) std::cerr << "stopped\n";
        if (CurrentHostControl().StopRequested() || !Execute(line)) {
            status = kExitFailure;
            break;
        }
    }
    for (OpenedPort& p : ports_) p.setup->OnLine(false);
    return status;
}

}  // namespace

int Shell(const ShellOptions& options) {
    Session session;
    return session.Run(options);
}

}  // namespace tessel::cli
