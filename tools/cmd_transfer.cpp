// tessel query | send | sende, the port strings behind them, and --trace.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>

#include "cli.h"
#include "port_string.h"

namespace tessel::cli {
namespace {

// A port number for a device given by path: the one that already means it,
// else the first whose default device does not exist here (so that no real
// port is renamed).
int16_t NumberFor(const std::string& device) {
    if (const int16_t known = SerialPortNumber(device)) return known;
    struct stat st {};
    for (int16_t n = 1; n < 32767; ++n)
        if (::stat(SerialPortPath(n).c_str(), &st) != 0) return n;
    throw Failure(device + ": no free port number to give it");
}

}  // namespace

OpenedPort OpenPort(const PortOptions& options) {
    PortPlan plan;
    try {
        plan = ParsePortString(options.port);
    } catch (const BadPortString& e) {
        throw Failure(e.what());
    }
    OpenedPort port;
    port.name = options.port;
    port.object = CreateObject(plan.progId);
    port.io = QueryInterface<IPort>(port.object);
    port.setup = QueryInterface<IPortSetup>(port.object);
    auto settings = port.setup->Settings();
    if (!plan.device.empty()) {
        const int16_t number = NumberFor(plan.device);
        AssignSerialPort(number, plan.device);
        settings->Item("Comm Port")->Value(-1, -1, Variant(number));
    }
    for (const auto& [name, value] : plan.settings) settings->Item(name)->Value(-1, -1, Variant(value));
    for (const auto& s : options.settings) ApplySetting(*settings, s);
    if (options.timeoutSeconds) port.io->TimeOut(*options.timeoutSeconds);
    port.setup->OnLine(true);
    return port;
}

std::string CheckedSend(IPort& io, const std::string& command) {
    Variant reply;
    io.SendE(command, &reply);
    return reply.IsEmpty() ? std::string() : reply.ToString();
}

int Transfers(Transfer kind, const TransferOptions& options) {
    OpenedPort port = OpenPort(options.port);
    HostControl& host = CurrentHostControl();
    for (const std::string& command : options.commands) {
        std::string reply;
        switch (kind) {
        case Transfer::Query: reply = port.io->Receive(Variant(command)); break;
        case Transfer::Send: port.io->Send(command); break;
        case Transfer::SendE: reply = CheckedSend(*port.io, command); break;
        }
        // A stop ends a wait quietly with nothing read: not a reply to print.
        if (host.StopRequested()) throw Failure("stopped by Ctrl+C");
        if (kind == Transfer::Query || !reply.empty()) std::cout << reply << std::endl;
    }
    port.setup->OnLine(false);
    return 0;
}

void StartTrace(const TraceOptions& options) {
    if (!options.on && options.file.empty()) return;
    std::shared_ptr<std::FILE> out(stderr, [](std::FILE*) {});
    if (!options.file.empty()) {
        std::FILE* file = std::fopen(options.file.c_str(), "w");
        if (file == nullptr)
            throw Failure("--trace-file " + options.file + ": cannot write it: " + std::strerror(errno));
        out.reset(file, std::fclose);
    }
    SetTrace([out, origin = std::chrono::steady_clock::now()](const TraceRecord& record) {
        const std::string line = TraceLine(record, origin) + "\n";
        std::fwrite(line.data(), 1, line.size(), out.get());
        std::fflush(out.get());
    });
}

}  // namespace tessel::cli
