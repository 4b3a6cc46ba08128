// tessel: the command-line host of the Tessel drivers.
//
// Every subcommand's options are registered here, one function each, and
// parsed by CLI11 before anything runs; the subcommands themselves live in
// the cmd_*.cpp files (cli.h).
#include <iostream>
#include <map>
#include <memory>

#include <CLI/CLI.hpp>

#include "cli.h"
#include "port_string.h"

namespace {

using namespace tessel::cli;

// What runs a parsed subcommand; its exit status.
using Run = std::function<int()>;

Run DemoCommand(CLI::App& command) {
    auto g = std::make_shared<DemoOptions>();
    CLI::Option* op = command.add_flag("--operator", g->operatorConsole,
                                       "play the operator: answer clsGUI on the display, else the terminal");
    command.add_flag("--terminal", g->terminal, "with --operator: use the terminal even when there is a display")
        ->needs(op);
    return [g] { return Demo(*g); };
}

Run SimCommand(CLI::App& command) {
    struct Given {
        SimOptions options;
        int tcp = 0;
        std::string operationTime;
        std::string terminator = "crlf";
    };
    auto g = std::make_shared<Given>();
    command.add_flag("--pty", g->options.pty, "serve on a pseudo-terminal (the default without --tcp)");
    CLI::Option* tcp = command.add_option("--tcp", g->tcp, "serve on 127.0.0.1:PORT; 0 picks a free port")
                           ->type_name("PORT")
                           ->check(CLI::Range(0, 65535));
    command.add_flag("--shared", g->options.shared, "one instrument serves TCP connections in turn")->needs(tcp);
    CLI::Option* operationTime =
        command.add_option("--optime", g->operationTime, "how long INIT keeps the instrument busy (default 0.1)")
            ->type_name("SECONDS|never")
            ->check(CLI::Validator(
                [](const std::string& text) {
                    if (ParseOperationTime(text)) return std::string();
                    return "Value " + text + " is not a number of seconds from 0 to 1000000, nor never";
                },
                "0 to 1000000 or never"));
    command.add_option("--terminator", g->terminator, "what ends every reply (default crlf)")
        ->check(CLI::IsMember({"crlf", "lf"}));
    return [g, tcp, operationTime] {
        if (tcp->count() > 0) g->options.tcp = static_cast<uint16_t>(g->tcp);
        if (operationTime->count() > 0) g->options.operationTime = ParseOperationTime(g->operationTime);
        g->options.lineFeedOnly = g->terminator == "lf";
        return Sim(g->options);
    };
}

Run PortsCommand(CLI::App&) { return Ports; }

Run SettingsCommand(CLI::App&) { return Settings; }

// "Name=Value" for --set.
CLI::Validator SettingAssignment() {
    return CLI::Validator(
        [](const std::string& s) { return s.find('=') == std::string::npos ? "takes NAME=VALUE, not " + s : ""; },
        "NAME=VALUE");
}

// The port and what goes with it, for the commands that talk to one.
void AddPortOptions(CLI::App& command, PortOptions& options, bool required) {
    command
        .add_option("PORT", options.port,
                    "the port, e.g. serial:1, serial:/dev/ttyUSB0?baud=19200, tcp:HOST:PORT, gpib:0:12")
        ->required(required)
        ->check(CLI::Validator(
            [](const std::string& text) {
                try {
                    ParsePortString(text);
                    return std::string();
                } catch (const BadPortString& e) {
                    return std::string(e.what());
                }
            },
            PortStringForms(), "PORT"));
    command.add_option("--set", options.settings, "a setting by its name, e.g. --set \"Stop Bits=2\"; repeatable")
        ->type_name("\"NAME=VALUE\"")
        ->check(SettingAssignment())
        ->allow_extra_args(false);
    command.add_option("--timeout", options.timeoutSeconds, "the port's time-out (default the driver's, 1)")
        ->type_name("SECONDS")
        ->check(CLI::Validator(
            [](const std::string& text) {
                // What is not a number at all is left to the conversion's own message.
                char* end = nullptr;
                const double seconds = std::strtod(text.c_str(), &end);
                if (end == text.c_str() || *end != '\0' || (seconds >= 0.0 && seconds <= 1e6)) return std::string();
                return "Value " + text + " is not a number of seconds from 0 to 1000000";
            },
            "0 to 1000000"));
}

template <Transfer kind>
Run TransferCommand(CLI::App& command) {
    auto options = std::make_shared<TransferOptions>();
    AddPortOptions(command, options->port, true);
    command.add_option("COMMAND", options->commands, "what to send; several are sent in turn")->required();
    return [options] { return Transfers(kind, *options); };
}

Run ShellCommand(CLI::App& command) {
    auto port = std::make_shared<PortOptions>();
    AddPortOptions(command, *port, false);
    return [port] {
        ShellOptions options;
        if (!port->port.empty()) options.port = *port;
        return Shell(options);
    };
}

Run OnlineCommand(CLI::App& command) {
    struct Given {
        OnlineOptions options;
        int16_t port = 0;
    };
    auto g = std::make_shared<Given>();
    CLI::Option* port = command.add_option("--port", g->port, "port number (\"Comm Port\"); default the setting's")
                            ->check(CLI::Range(int16_t{1}, int16_t{32767}));
    command.add_option("--device", g->options.device, "make the port number mean this device, e.g. /dev/ttyUSB0");
    command.add_option("--set", g->options.settings, "a setting, e.g. --set \"Baud Rate=19200\"; repeatable")
        ->type_name("\"NAME=VALUE\"")
        ->check(SettingAssignment())
        ->allow_extra_args(false);
    return [g, port] {
        if (port->count() > 0) g->options.port = g->port;
        return Online(g->options);
    };
}

Run CallCommand(CLI::App& command) {
    struct Given {
        CallOptions options;
        bool get = false;
        bool let = false;
    };
    auto g = std::make_shared<Given>();
    command.add_option("CLASS", g->options.className, "clsComm, Tessel.clsComm or a class identifier")->required();
    command.add_option("MEMBER", g->options.member, "a member of the class's default interface, any case")
        ->required();
    command.add_option("ARGS", g->options.arguments, "the member's arguments, converted as the member needs");
    command.add_option("--set", g->options.settings, "a setting applied before the call; repeatable")
        ->type_name("\"NAME=VALUE\"")
        ->check(SettingAssignment())
        ->allow_extra_args(false);
    CLI::Option* get = command.add_flag("--get", g->get, "read the property MEMBER");
    command.add_flag("--let", g->let, "assign the last of ARGS to the property MEMBER")->excludes(get);
    return [g] {
        if (g->get) g->options.type = tessel::CallType::Get;
        if (g->let) g->options.type = tessel::CallType::Let;
        return Call(g->options);
    };
}

struct Command {
    const char* name;
    const char* description;
    Run (*add)(CLI::App&);
};

constexpr Command kCommands[] = {
    {"demo", "Run the drivers against simulated instruments", DemoCommand},
    {"sim", "Serve a simulated IEEE 488.2 instrument until Ctrl+C", SimCommand},
    {"ports", "List the serial ports of this machine", PortsCommand},
    {"settings", "List the settings of a serial port and their defaults", SettingsCommand},
    {"online", "Bring a serial port on-line, report its settings, go off-line", OnlineCommand},
    {"query", "Send each COMMAND to PORT and print its reply", TransferCommand<Transfer::Query>},
    {"send", "Send each COMMAND to PORT", TransferCommand<Transfer::Send>},
    {"sende", "Send each COMMAND to PORT checking the instrument's errors; print replies to queries",
     TransferCommand<Transfer::SendE>},
    {"shell", "Talk to ports interactively; `help` inside lists what it does", ShellCommand},
    {"call", "Create CLASS and call its MEMBER by name, as a late-bound host would", CallCommand},
};

// "tessel sim" for the subcommand that was being parsed, "tessel" before one.
std::string CommandName(const CLI::App& app) {
    std::string name = "tessel";
    for (const CLI::App* sub : app.get_subcommands()) name += " " + sub->get_name();
    return name;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"The command-line host of the Tessel instrument-port drivers.", "tessel"};
    app.set_version_flag("--version", TESSEL_VERSION);
    app.require_subcommand(1);
    std::map<const CLI::App*, Run> runs;
    TraceOptions trace;
    for (const Command& command : kCommands) {
        CLI::App* sub = app.add_subcommand(command.name, command.description);
        runs[sub] = command.add(*sub);
        sub->add_flag("--trace", trace.on, "print every transfer to standard error");
        sub->add_option("--trace-file", trace.file, "write every transfer to FILE instead")->type_name("FILE");
    }
    if (argc < 2) {
        std::cerr << app.help();
        return kExitUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        const std::string name = CommandName(app);
        if (name == "tessel" && argv[1][0] != '-')
            std::cerr << "tessel: unknown command \"" << argv[1] << "\"\n";
        else
            std::cerr << name << ": " << e.what() << "\n";
        std::cerr << "Run '" << name << " --help' for the " << (name == "tessel" ? "commands" : "options") << ".\n";
        return kExitUsage;
    }
    InstallInterruptHandler();
    const Run& run = runs.at(app.get_subcommands().front());
    return Guarded([&] {
        StartTrace(trace);
        return run();
    });
}
