// Pieces shared by the subcommands of the tessel command.
//
// A subcommand is one function that registers its options on its CLI11 App
// and returns what runs it; main.cpp lists the subcommands. Options are
// typed and range-checked where they are registered, so a bad value is a
// usage error naming the option (exit status 2) before anything runs.
// Failures while running exit with status 1.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

#include <tessel/tessel.h>

namespace CLI {
class App;
}

namespace tessel::cli {

// Runs a parsed subcommand; returns the exit status.
using Run = std::function<int()>;

Run AddDemo(CLI::App& command);
Run AddSim(CLI::App& command);
Run AddPorts(CLI::App& command);
Run AddSettings(CLI::App& command);
Run AddOnline(CLI::App& command);

// Exit statuses.
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// A failure that is not a ComError (a port already in use, no
// pseudo-terminal): printed as "tessel: <message>", exit status 1.
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Prints a ComError as a person needs it: number, source, description, detail.
void PrintError(const ComError& e);

// Applies "Name=Value" to a driver's settings; unknown names raise the
// settings' own error.
void ApplySetting(Parameter& settings, const std::string& assignment);

// Prints every setting of a root: name, kind, allowed values, unit, value.
void PrintSettings(const Parameter& root);

// Runs a subcommand: a ComError or Failure is printed and gives status 1.
int Guarded(const Run& run);

// Ctrl+C asks every wait to end quietly through the default host control.
void InstallInterruptHandler();

}  // namespace tessel::cli
