// tessel: the command-line host of the Tessel drivers.
#include <iostream>
#include <map>

#include <CLI/CLI.hpp>

#include "cli.h"

namespace {

using namespace tessel::cli;

struct Command {
    const char* name;
    const char* description;
    Run (*add)(CLI::App&);
};

constexpr Command kCommands[] = {
    {"demo", "Run the drivers against simulated instruments", AddDemo},
    {"sim", "Serve a simulated IEEE 488.2 instrument until Ctrl+C", AddSim},
    {"ports", "List the serial ports of this machine", AddPorts},
    {"settings", "List the settings of a serial port and their defaults", AddSettings},
    {"online", "Bring a serial port on-line, report its settings, go off-line", AddOnline},
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
    for (const Command& command : kCommands) {
        CLI::App* sub = app.add_subcommand(command.name, command.description);
        runs[sub] = command.add(*sub);
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
    return Guarded(runs.at(app.get_subcommands().front()));
}
