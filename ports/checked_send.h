// The checked send of the message-port drivers (serial, TCP/IP).
//
// Sends a command to an instrument that reports its status the IEEE 488.2
// way, waits until the instrument has executed it, and turns its standard
// event status into errors:
//
//   "*CLS", "*SRE 0", "*ESE 61", then the command followed by "; *OPC"
//   (read as a query when it contains "?"), then "*STB?" until the event
//   summary bit (32) is set, at most min(TimeOut, 4 s) or until the host's run
//   state asks to stop, then "*ESR?", whose bits are tested in this order:
//   4 query error, 8 device-dependent error, 16 execution error, 32 command
//   error, and finally bit 1 (operation complete) must be set.
//
// The port's own Send and Receive carry the messages, so their framing,
// time-outs and errors are the driver's; those errors reach the caller
// unchanged. Errors detected here, and failed conversions of the status
// replies, carry `source`. A run state that asks to stop while "*STB?" is
// polled always gives kObjectErrorBase + 2009 "Event register was
// unexpectedly clear", also when it ended the poll's receive before the
// reply came (the empty reply is not converted). A stop request from the host ends the procedure
// quietly at each of its check points, sending nothing further.
#pragma once

#include <string_view>

#include <tessel/port.h>

namespace tessel {

// Status byte bits the checked sends test.
inline constexpr int16_t kMessageAvailableBit = 16;
inline constexpr int16_t kEventSummaryBit = 32;

void CheckedSend(IPort& port, std::string_view source, std::string_view strCommand, Variant* vntReturn);

// Raises the first error the event status register reports (query, device
// dependent, execution, command error, then operation not complete), with
// `source`, yielding between the tests; returns when there is none. Shared
// with the GPIB driver, whose checked send learns of completion on the bus.
void RaiseEventStatus(int16_t eventStatus, std::string_view source);

}  // namespace tessel
