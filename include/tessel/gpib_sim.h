/* The simulated GPIB bus: control of libtessel-gpib-sim.
 *
 * libtessel-gpib-sim.so is a GPIB library of Tessel's own. It exports the
 * standard GPIB C API (ibfind, ibdev, ibwrt, ibrd, Send, Receive, FindLstn,
 * ReadStatusByte, ibwait, ...) over a simulated bus: boards GPIB0 to GPIB3,
 * each with simulated IEEE 488.2 instruments (<tessel/sim.h>) at the primary
 * addresses a program places them at. clsGPIB loads it when no other GPIB
 * library is chosen or installed (docs/gpib.md); a test names it with
 * tessel::UseGpibLibrary and links it to reach the calls below:
 *
 *   TesselGpibSimReset();
 *   TesselGpibSimPlace(0, 12, 0, 100);           // an instrument at GPIB0, address 12
 *   tessel::UseGpibLibrary(path_of_the_sim);     // the same file the test links
 *   ... clsGPIB on board 0, primary address 12 ...
 *   TesselGpibSimCallCount("ibfind");            // how often the driver called it
 *
 * A program that cannot make these calls (the tessel command, any host of
 * the driver) names instruments in the environment variable
 * TESSEL_GPIB_SIM_INSTRUMENTS, read once as the library loads: items
 * BOARD:ADDRESS or BOARD:ADDRESS:SECONDARY separated by commas, each placed
 * as TesselGpibSimPlace(board, address, secondary, 100) would:
 *
 *   TESSEL_GPIB_SIM_INSTRUMENTS=0:12,0:5,1:3:96 tessel query gpib:0:12 "*IDN?"
 *
 * An item that is not of that form or out of range is skipped with a line
 * on standard error naming it; the others are still placed.
 * TesselGpibSimReset removes them like any other.
 *
 * The instruments reply with a line feed and EOI. Every library call is
 * logged; reading the log, placing and removing instruments and injecting
 * faults never changes the calling thread's GPIB status.
 *
 * Boards are 0 to 3, primary addresses 0 to 30, secondary addresses 0 (none)
 * or 96 to 126. Calls that name a board and address return 0 on success and
 * -1 when the arguments are out of range or no instrument is placed there.
 *
 * Threads: every call may be made from any thread; the bus has one lock and
 * no call blocks longer than it takes to act (none waits for a time-out).
 */
#pragma once

#include <stddef.h>

#include <tessel/export.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Removes every instrument, closes every descriptor, forgets forced results
 * and failures and clears the call log: the state of a freshly loaded library. */
TESSEL_API void TesselGpibSimReset(void);

/* Places a fresh instrument (powered on, queues empty) at board/pad with
 * secondary address sad. operation_ms is how long INIT keeps it busy, so that
 * "INIT;*OPC" completes that late; negative means never. Replaces an
 * instrument already there. */
TESSEL_API int TesselGpibSimPlace(int board, int pad, int sad, long operation_ms);
TESSEL_API int TesselGpibSimRemove(int board, int pad);

/* How long after the instrument asserts its service request the bus line
 * follows: 0 at once (the default), negative never (the instrument still sets
 * RQS in its status byte, but no SRQI is ever seen). */
TESSEL_API int TesselGpibSimSetServiceDelay(int board, int pad, long delay_ms);

/* 0 makes the instrument hold off the handshake: every write to it ends
 * after its time-out code with ERR|TIMO and EABO. 1 (the default) accepts. */
TESSEL_API int TesselGpibSimSetAccepting(int board, int pad, int accepting);

/* Makes `query` answer `reply` without executing (see sim::Instrument::
 * SetFixedReply); a null reply restores it. -1 also for an unknown query. */
TESSEL_API int TesselGpibSimSetFixedReply(int board, int pad, const char* query, const char* reply);

/* Queues an error in the instrument as SIM:ERR does (-113 sets CME). */
TESSEL_API int TesselGpibSimInjectError(int board, int pad, int code);

/* The instrument's program messages, oldest first, each ended by a line
 * feed, written to buffer (at most size bytes, always NUL-terminated when
 * size > 0). Returns the length of the whole text, or -1. */
TESSEL_API long TesselGpibSimMessageLog(int board, int pad, char* buffer, size_t size);

/* Remote state of the instrument: bit 1 remote, bit 2 local lockout; -1 when
 * no instrument is there. */
TESSEL_API int TesselGpibSimRemoteState(int board, int pad);

/* How many ibfind calls opened the board minus the ibonl calls that closed
 * it (never below 0); -1 for a board outside 0..3. */
TESSEL_API int TesselGpibSimBoardOpenCount(int board);

/* The next call of `function` (e.g. "SetRWLS") on any thread fails with ERR
 * and error code iberr, without acting. One failure per call of this. */
TESSEL_API void TesselGpibSimFailNext(const char* function, int iberr);

/* The next `times` calls of RegisterGpibGlobalsForThread, on any thread,
 * return `result`: 0 registers as usual, 1 reports "already registered" and
 * changes nothing, anything else registers nothing. times 0 ends it. */
TESSEL_API void TesselGpibSimForceRegistration(int result, int times);

/* How often `function` was called since the last reset or clear. */
TESSEL_API size_t TesselGpibSimCallCount(const char* function);

/* The newest calls (at most 4096), one a line: the function's name and its
 * numeric arguments, "ibdev 0 12 0 11 1 0"; text arguments appear only for
 * ibfind. Written like TesselGpibSimMessageLog; returns the whole length. */
TESSEL_API long TesselGpibSimCallLog(char* buffer, size_t size);
TESSEL_API void TesselGpibSimClearCallLog(void);

/* A descriptor that becomes readable when a service-request line may have
 * changed or an instrument's operation may have ended. It stays readable
 * until the next library call, which looks and re-arms it. Poll it, never
 * read or close it. */
TESSEL_API int TesselGpibSimServiceRequestHandle(void);

#ifdef __cplusplus
}
#endif
