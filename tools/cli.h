// Pieces shared by the subcommands of the tessel command.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <tessel/tessel.h>

namespace tessel::cli {

// Command-line arguments after the subcommand: --name value pairs (a name may
// repeat) and the remaining words.
class Args {
public:
    Args(int argc, char** argv, int first);
    std::optional<std::string> Take(const std::string& name);  // last value of --name
    std::vector<std::string> TakeAll(const std::string& name);  // every value of --name
    bool Flag(const std::string& name);                          // --name without a value
    std::vector<std::string> words;
    // Throws std::invalid_argument naming options that no subcommand took.
    void RequireAllTaken() const;

private:
    std::multimap<std::string, std::string> options_;
    std::vector<std::string> flags_;
};

// Prints a ComError as a person needs it: number, source, description, detail.
void PrintError(const ComError& e);

// Applies "Name=Value" to a driver's settings; unknown names raise the
// settings' own error.
void ApplySetting(Parameter& settings, const std::string& assignment);

// Prints every setting of a root: name, kind, allowed values, unit, value.
void PrintSettings(const Parameter& root);

// Runs fn; a ComError is printed and turns into exit status 1.
int Guarded(const std::function<int()>& fn);

// Ctrl+C asks every wait to end quietly through the default host control.
void InstallInterruptHandler();

int Ports(Args& args);
int Online(Args& args);
int Settings(Args& args);
int Demo(Args& args);
int Sim(Args& args);

}  // namespace tessel::cli
