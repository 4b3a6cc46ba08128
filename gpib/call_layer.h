// The GPIB call layer: every library call of the driver, each made after the
// thread's status cells are registered with the library and followed by the
// status copy, so that the thread's status always describes its last call.
// No call raises for a failed call: test Failed() right after it. The calls
// that move bytes trace them (<tessel/trace.h>) as "GPIB<board>:<address>". A library
// that cannot be loaded raises ComError (gpib_library.h).
//
// Threads: the status and the board table are the calling thread's own.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "gpib/gpib_api.h"

namespace tessel::gpib {

struct GpibLibrary;

struct BoardEntry {
    int16_t descriptor = -1;  // from ibfind; -1 while closed
    int16_t users = 0;        // objects of this thread on-line on the board
};

struct GpibThreadStatus {
    int16_t ibsta = 0;
    int16_t iberr = 0;
    // The count cell the library writes itself once registered.
    long ibcntl = 0;
    int statusCell = 0;
    int errorCell = 0;
    int countCell = 0;
    bool registered = false;
    // The library the cells belong to, and the host's choice it was got under.
    std::shared_ptr<const GpibLibrary> library;
    unsigned choice = 0;
    std::array<BoardEntry, 4> boards{};
};

GpibThreadStatus& ThreadStatus();

// The 16-bit reading of a 32-bit value: bit 15 set reads negative.
inline int16_t LowWord(int32_t value) { return static_cast<int16_t>(static_cast<uint16_t>(value & 0xFFFF)); }

inline bool Failed() { return (ThreadStatus().ibsta & kERR) != 0; }
inline bool TimedOut() { return (ThreadStatus().ibsta & kTIMO) != 0; }

// The library's text for an error code; empty for codes without one.
std::string ErrorText(int16_t iberr);

int16_t CallIbfind(int16_t board);
void CallIbsic(int16_t descriptor);
int16_t CallIbdev(int16_t board, int16_t pad, int16_t sad, int16_t timeoutCode);
void CallIbonl(int16_t descriptor);
void CallIbtmo(int16_t descriptor, int16_t timeoutCode);
void CallIbeot(int16_t descriptor, bool eot);
// board and pad only name the port in the trace.
void CallWrite(int16_t board, int16_t pad, int16_t descriptor, const void* bytes, long count);
void CallReadBytes(int16_t board, int16_t pad, int16_t descriptor, uint8_t* bytes, long count);
// The first listener found among (pad, none); ibcntl holds how many.
int16_t CallFindLstn(int16_t board, int16_t pad);
void CallSetRWLS(int16_t board, int16_t pad);
void CallEnableRemote(int16_t board, int16_t pad);
void CallEnableLocal(int16_t board, int16_t pad);
// The text, then a line feed with EOI, whatever the library's numbering.
void CallSend(int16_t board, int16_t pad, std::string_view text);
void CallReceive(int16_t board, int16_t pad, char* buffer, long count);
int16_t CallReadStatusByte(int16_t board, int16_t pad);
// 1 while the board's service-request line is asserted, else 0.
int16_t TestServiceRequest(int16_t board);

// A descriptor that turns readable when a service request may have come, for
// libraries that offer one (our simulated bus); -1 otherwise.
int ServiceRequestHandle();

}  // namespace tessel::gpib
