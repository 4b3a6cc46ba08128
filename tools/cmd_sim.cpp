// tessel sim: serve simulated instruments until Ctrl+C, so that any serial
// or socket program (and the drivers) can talk to them.
#include <iostream>
#include <optional>

#include <tessel/sim.h>

#include "cli.h"

namespace tessel::cli {

int Sim(Args& args) {
    const bool pty = args.Flag("pty");
    const auto tcp = args.Take("tcp");
    const bool shared = args.Flag("shared");
    const auto opTime = args.Take("optime");
    const auto terminator = args.Take("terminator");
    args.RequireAllTaken();

    sim::Config config;
    if (opTime) {
        const double seconds = Variant(*opTime).ToDouble();
        config.operationTime = seconds < 0 ? sim::kNever
                                           : std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                 std::chrono::duration<double>(seconds));
    }
    if (terminator) {
        if (*terminator == "lf") config.replyTerminator = "\n";
        else if (*terminator == "crlf") config.replyTerminator = "\r\n";
        else throw std::invalid_argument("--terminator is crlf or lf, not \"" + *terminator + "\"");
    }

    std::optional<sim::PtyServer> ptyServer;
    std::optional<sim::TcpServer> tcpServer;
    if (pty || !tcp) {
        ptyServer.emplace(config);
        std::cout << "serial: " << ptyServer->SlavePath() << "\n";
    }
    if (tcp) {
        sim::TcpOptions options;
        options.port = static_cast<uint16_t>(Variant(*tcp).ToLong());
        options.shared = shared;
        options.instrument = config;
        tcpServer.emplace(options);
        std::cout << "tcp: 127.0.0.1:" << tcpServer->Port() << (shared ? " (one instrument, connections in turn)" : "")
                  << "\n";
    }
    std::cout << "serving until Ctrl+C" << std::endl;
    while (!CurrentHostControl().StopRequested()) WaitForEvents(std::chrono::seconds(60));
    std::cout << "stopped\n";
    return 0;
}

}  // namespace tessel::cli
