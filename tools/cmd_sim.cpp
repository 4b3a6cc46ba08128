// tessel sim: serve simulated instruments until Ctrl+C, so that any serial
// or socket program (and the drivers) can talk to them.
#include <charconv>
#include <cmath>
#include <iostream>
#include <optional>
#include <system_error>

#include <tessel/sim.h>

#include "cli.h"

namespace tessel::cli {

std::optional<std::chrono::nanoseconds> ParseOperationTime(const std::string& text) {
    // The longest operation time the instrument itself accepts (SYST:OPT).
    constexpr double kMaxSeconds = 1e6;
    if (text == "never") return sim::kNever;
    double seconds = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (ec != std::errc() || end != text.data() + text.size() || !(seconds >= 0 && seconds <= kMaxSeconds))
        return std::nullopt;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(seconds));
}

int Sim(const SimOptions& options) {
    sim::Config config;
    if (options.operationTime) config.operationTime = *options.operationTime;
    if (options.lineFeedOnly) config.replyTerminator = "\n";

    std::optional<sim::PtyServer> ptyServer;
    std::optional<sim::TcpServer> tcpServer;
    if (options.pty || !options.tcp) {
        try {
            ptyServer.emplace(config);
        } catch (const std::system_error& e) {
            throw Failure(std::string("no pseudo-terminal for the instrument: ") + e.what());
        }
        std::cout << "serial: " << ptyServer->SlavePath() << "\n";
    }
    if (options.tcp) {
        sim::TcpOptions tcp;
        tcp.port = *options.tcp;
        tcp.shared = options.shared;
        tcp.instrument = config;
        try {
            tcpServer.emplace(tcp);
        } catch (const std::system_error& e) {
            const std::string port = std::to_string(*options.tcp);
            throw Failure("--tcp " + port + ": cannot listen on 127.0.0.1:" + port + ": " + e.code().message());
        }
        std::cout << "tcp: 127.0.0.1:" << tcpServer->Port()
                  << (options.shared ? " (one instrument, connections in turn)" : "") << "\n";
    }
    std::cout << "serving until Ctrl+C" << std::endl;
    while (!CurrentHostControl().StopRequested()) WaitForEvents(std::chrono::seconds(60));
    std::cout << "stopped\n";
    return 0;
}

}  // namespace tessel::cli
