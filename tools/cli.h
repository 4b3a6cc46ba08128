// Pieces shared by the subcommands of the tessel command.
//
// A subcommand is two things: a function in main.cpp that registers its
// options on its CLI11 App and returns what runs it, and the run function
// here, which takes the parsed options as a plain struct. Options are typed
// and range-checked where they are registered, so a bad value is a usage
// error naming the option (exit status 2) before anything runs; failures
// while running exit with status 1. Only main.cpp includes CLI11, which is
// large and slow to compile.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <tessel/tessel.h>

namespace tessel::cli {

struct OnlineOptions {
    std::optional<int16_t> port;  // "Comm Port"; the setting's default when not given
    std::string device;           // make the port number mean this device
    std::vector<std::string> settings;  // "Name=Value"
};

struct SimOptions {
    bool pty = false;
    std::optional<uint16_t> tcp;
    bool shared = false;
    std::optional<std::chrono::nanoseconds> operationTime;
    bool lineFeedOnly = false;  // replies end with LF instead of CR LF
};

// --trace and --trace-file, which every subcommand takes.
struct TraceOptions {
    bool on = false;
    std::string file;  // empty: standard error
};

// A port given as one string and the options that go with it.
struct PortOptions {
    std::string port;                   // "serial:1", "tcp:HOST:PORT", ... (port_string.h)
    std::vector<std::string> settings;  // "Name=Value", after those in the string
    std::optional<float> timeoutSeconds;
};

struct TransferOptions {
    PortOptions port;
    std::vector<std::string> commands;  // one transfer each, in order
};

enum class Transfer {
    Query,  // send, read the reply, print it
    Send,   // send only
    SendE,  // checked send; a query's reply printed
};

struct CallOptions {
    std::string className;  // program identifier, class identifier, or a class name ("clsTimeout")
    std::string member;
    std::vector<std::string> arguments;
    std::vector<std::string> settings;  // "NAME=VALUE", applied before the call
    CallType type = CallType::Method;
};

struct ShellOptions {
    std::optional<PortOptions> port;  // opened before the first prompt
};

struct DemoOptions {
    bool operatorConsole = false;  // run the operator console's exchange instead
    bool terminal = false;         // ... on the terminal even with a display
};

int Demo(const DemoOptions& options);
int Ports();
int Settings();
int Online(const OnlineOptions& options);
int Sim(const SimOptions& options);
int Transfers(Transfer kind, const TransferOptions& options);
int Shell(const ShellOptions& options);
int Call(const CallOptions& options);

// Sends all transfers of every port to standard error or a file from now on.
// Raises Failure when the file cannot be written.
void StartTrace(const TraceOptions& options);

// "never" (sim::kNever) or seconds from 0 to 1000000; nothing for anything else.
std::optional<std::chrono::nanoseconds> ParseOperationTime(const std::string& text);

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
int Guarded(const std::function<int()>& run);

// Ctrl+C asks every wait to end quietly through the default host control.
// Once: a second Ctrl+C ends the program. Repeatedly: every Ctrl+C only asks
// (the shell, which resets the request before each command).
enum class Interrupts { Once, Repeatedly };
void InstallInterruptHandler(Interrupts interrupts = Interrupts::Once);

// A driver opened from a port string, on-line.
struct OpenedPort {
    std::string name;  // the port string as given
    std::shared_ptr<Object> object;
    std::shared_ptr<IPort> io;
    std::shared_ptr<IPortSetup> setup;
};

// Creates the driver, applies the string's settings and then `options`'
// own, sets the time-out and brings it on-line. Raises the driver's errors.
OpenedPort OpenPort(const PortOptions& options);

// Checked send: the reply of a query, empty text for a command.
std::string CheckedSend(IPort& io, const std::string& command);

// The late-bound call of a member by name on an object, its result as text
// (empty for none): what `tessel call` and the shell's `call` run. Raises
// ComError.
std::string CallMember(const std::shared_ptr<Object>& object, const std::string& member,
                       const std::vector<std::string>& arguments, CallType type = CallType::Method);

}  // namespace tessel::cli
