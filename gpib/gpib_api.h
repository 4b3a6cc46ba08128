// The C API of a GPIB library, as the driver calls it and as the simulated
// library implements it: one list of function types, status bits and codes,
// so that the two can never disagree about a signature.
//
// Threads: declarations only.
#pragma once

#include <cstdint>

namespace tessel::gpib {

// An address in a listener list: the primary address in the low byte, the
// secondary (96..126, 0 for none) in the high byte.
using Addr4882 = uint16_t;
inline constexpr Addr4882 kNoAddress = 0xFFFF;

// Status word bits.
enum StatusBits : int {
    kERR = 0x8000,
    kTIMO = 0x4000,
    kEND = 0x2000,
    kSRQI = 0x1000,
    kRQS = 0x0800,
    kCMPL = 0x0100,
    kLOK = 0x0080,
    kREM = 0x0040,
    kCIC = 0x0020,
};

// Error codes (iberr).
enum ErrorCodes : int {
    kEDVR = 0,
    kECIC = 1,
    kENOL = 2,
    kEADR = 3,
    kEARG = 4,
    kESAC = 5,
    kEABO = 6,
    kENEB = 7,
    kEDMA = 8,
    kEOIP = 10,
    kECAP = 11,
    kEFSO = 12,
    kEBUS = 14,
    kESTB = 15,
    kESRQ = 16,
    kETAB = 20,
    kELCK = 21,
};

// End modes of Send as this API numbers them. The other library with the same
// function names swaps 1 and 2; the loader translates.
enum EndMode : int {
    kNullEnd = 0,  // no EOI
    kNLEnd = 1,    // a line feed with EOI after the data
    kDABEnd = 2,   // EOI with the last byte
};

// Receive's termination: stop at EOI only.
inline constexpr int kStopEnd = 0x100;

// Nominal seconds of the time-out codes 0 (no limit) to 17, single precision
// because that is how a port's TimeOut is compared with them.
inline constexpr float kTimeoutSeconds[] = {0.0f,  1e-5f, 3e-5f, 1e-4f,  3e-4f,  1e-3f,  3e-3f,  0.01f,   0.03f,
                                            0.1f,  0.3f,  1.0f,  3.0f,   10.0f,  30.0f,  100.0f, 300.0f, 1000.0f};
inline constexpr int kMaxTimeoutCode = 17;

extern "C" {
using IbfindFn = int(const char* name);
using IbsicFn = int(int ud);
using IbdevFn = int(int board, int pad, int sad, int tmo, int eot, int eos);
using IbonlFn = int(int ud, int online);
using IbtmoFn = int(int ud, int code);
using IbeotFn = int(int ud, int eot);
using IbwrtFn = int(int ud, const void* buffer, long count);
using IbrdFn = int(int ud, void* buffer, long count);
using IbwaitFn = int(int ud, int mask);
using FindLstnFn = void(int board, const Addr4882* addresses, Addr4882* results, int limit);
using AddressListFn = void(int board, const Addr4882* addresses);  // SetRWLS, EnableRemote, EnableLocal
using SendFn = void(int board, Addr4882 address, const void* buffer, long count, int end_mode);
using ReceiveFn = void(int board, Addr4882 address, void* buffer, long count, int termination);
using ReadStatusByteFn = void(int board, Addr4882 address, short* result);
using RegisterGlobalsFn = int(int* status, int* error, int* count, long* count_long);
using UnregisterGlobalsFn = void();
using ThreadIntFn = int();
using ThreadLongFn = long();
}

}  // namespace tessel::gpib
