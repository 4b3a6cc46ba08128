// The socket control's error numbers and their descriptions.
//
// Numbers follow the classic socket numbering, 10000 + the BSD errno value
// (so 10061 is a refused connection on every system, although Linux numbers
// ECONNREFUSED 111), and 11001..11004 for failed name look-ups; the control's
// own refusals are 12001..12003 (<tessel/ethernet.h>). Descriptions say what
// happened and name the host and port, since a test engineer reading one
// usually has several instruments on the bench.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>

#include <tessel/ethernet.h>

namespace tessel::tcpip {

// Source of every error the socket reports or raises.
inline constexpr const char* kSocketSource = "Winsock";

// The classic number for a failure that asio or the system reported;
// kSocketSystemFailure when it has none.
int16_t SocketErrorNumber(const std::error_code& ec);

// What error `number` means for a connection to host:port. `ec` adds the
// system's own words where the number alone says too little.
std::string SocketErrorText(int16_t number, const std::string& host, int32_t port, const std::error_code& ec = {});

// Raises a refusal of the control with source kSocketSource.
[[noreturn]] void RaiseSocketError(int16_t number, const std::string& description);

}  // namespace tessel::tcpip
