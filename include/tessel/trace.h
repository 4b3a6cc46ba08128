// Tracing: every transfer of every port, as it happens.
//
// A host that installs a sink sees each block of bytes a transport sends
// and each block that arrives from it, with the time, the direction and the
// port (a device path such as "/dev/ttyUSB0", "host:port" for TCP/IP,
// "GPIB0:12" for board and primary address, "TH03 COM1:2" for a logger's
// port and channel).
// Sent: a serial port reports what the device took in one write, TCP/IP
// what the driver gave the socket in one send. Received: what one read
// delivered, so a reply that arrives in three pieces is three records.
// GPIB: what one library call moved, the line feed the library adds to Send
// included. TH-03: each reading the logger library returned, received, as
// its decimal text in the library's units. With no sink
// installed a transfer costs one relaxed atomic load more (tessel-bench,
// "trace" table). A host that prints its transfers (examples/trace.cpp):
//
//   auto origin = std::chrono::steady_clock::now();
//   tessel::SetTrace([origin](const tessel::TraceRecord& r) {
//       std::cerr << tessel::TraceLine(r, origin) << "\n";   // "  0.000412 sent /dev/pts/3 \"*IDN?\r\n\""
//   });
//
// and tessel::SetTrace(nullptr) turns tracing off again.
//
// Threads: SetTrace may be called from any thread. The sink is called on the
// thread that made the transfer, possibly on several threads at once, and
// must not raise; it may call SetTrace. A transfer already past the check
// may still reach a sink that was just replaced.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include <tessel/export.h>

namespace tessel {

enum class TraceDirection {
    Sent,      // handed to the system to go out
    Received,  // arrived from the instrument
};

struct TraceRecord {
    std::chrono::steady_clock::time_point time;  // monotonic
    TraceDirection direction;
    std::string_view port;   // valid during the call only
    std::string_view bytes;  // valid during the call only; any byte values
};

using TraceSink = std::function<void(const TraceRecord&)>;

// Installs `sink` for every port of the process; an empty sink turns tracing
// off. Never blocks for long, never raises.
TESSEL_API void SetTrace(TraceSink sink);

// One line, without a line end: seconds since `origin` with microseconds,
// "sent" or "recv", the port and the bytes in double quotes. Printable ASCII
// stays as it is; \" \\ \r \n \t and \xHH for everything else.
TESSEL_API std::string TraceLine(const TraceRecord& record, std::chrono::steady_clock::time_point origin);

// The quoting of TraceLine alone, quotes included: "\"*IDN?\\r\\n\"".
TESSEL_API std::string QuotedBytes(std::string_view bytes);

}  // namespace tessel
