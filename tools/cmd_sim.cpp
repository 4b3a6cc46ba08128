// tessel sim: serve simulated instruments until Ctrl+C, so that any serial
// or socket program (and the drivers) can talk to them.
#include <cmath>
#include <iostream>
#include <optional>
#include <system_error>

#include <CLI/CLI.hpp>
#include <tessel/sim.h>

#include "cli.h"

namespace tessel::cli {
namespace {

// The longest operation time the instrument itself accepts (SYST:OPT).
constexpr double kMaxOperationSeconds = 1e6;

// "never", or seconds from 0 to kMaxOperationSeconds.
std::string CheckOperationTime(const std::string& text) {
    if (text == "never") return {};
    double seconds = 0;
    if (CLI::detail::lexical_cast(text, seconds) && std::isfinite(seconds) && seconds >= 0 &&
        seconds <= kMaxOperationSeconds)
        return {};
    return "Value " + text + " is not a number of seconds from 0 to 1000000, nor never";
}

std::chrono::nanoseconds OperationTime(const std::string& text) {
    if (text == "never") return sim::kNever;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(std::stod(text)));
}

}  // namespace

Run AddSim(CLI::App& command) {
    struct Options {
        bool pty = false;
        int tcp = 0;
        bool shared = false;
        std::string operationTime;
        std::string terminator = "crlf";
    };
    auto o = std::make_shared<Options>();
    command.add_flag("--pty", o->pty, "serve on a pseudo-terminal (the default without --tcp)");
    CLI::Option* tcp = command.add_option("--tcp", o->tcp, "serve on 127.0.0.1:PORT; 0 picks a free port")
                           ->type_name("PORT")
                           ->check(CLI::Range(0, 65535));
    command.add_flag("--shared", o->shared, "one instrument serves TCP connections in turn")->needs(tcp);
    CLI::Option* operationTime =
        command.add_option("--optime", o->operationTime, "how long INIT keeps the instrument busy (default 0.1)")
            ->type_name("SECONDS|never")
            ->check(CLI::Validator(CheckOperationTime, "0 to 1000000 or never"));
    command.add_option("--terminator", o->terminator, "what ends every reply (default crlf)")
        ->check(CLI::IsMember({"crlf", "lf"}));

    return [o, tcp, operationTime] {
        sim::Config config;
        if (operationTime->count() > 0) config.operationTime = OperationTime(o->operationTime);
        if (o->terminator == "lf") config.replyTerminator = "\n";

        std::optional<sim::PtyServer> ptyServer;
        std::optional<sim::TcpServer> tcpServer;
        const bool onTcp = tcp->count() > 0;
        if (o->pty || !onTcp) {
            try {
                ptyServer.emplace(config);
            } catch (const std::system_error& e) {
                throw Failure(std::string("no pseudo-terminal for the instrument: ") + e.what());
            }
            std::cout << "serial: " << ptyServer->SlavePath() << "\n";
        }
        if (onTcp) {
            sim::TcpOptions options;
            options.port = static_cast<uint16_t>(o->tcp);
            options.shared = o->shared;
            options.instrument = config;
            try {
                tcpServer.emplace(options);
            } catch (const std::system_error& e) {
                const std::string port = std::to_string(o->tcp);
                throw Failure("--tcp " + port + ": cannot listen on 127.0.0.1:" + port + ": " + e.code().message());
            }
            std::cout << "tcp: 127.0.0.1:" << tcpServer->Port()
                      << (o->shared ? " (one instrument, connections in turn)" : "") << "\n";
        }
        std::cout << "serving until Ctrl+C" << std::endl;
        while (!CurrentHostControl().StopRequested()) WaitForEvents(std::chrono::seconds(60));
        std::cout << "stopped\n";
        return 0;
    };
}

}  // namespace tessel::cli
