// The simulated instrument: an IEEE 488.2 device with a status model, an
// error queue, a slow operation, a voltage source and block transfers, for
// tests, benchmarks and demonstrations that need something real to talk to.
//
//   Instrument  the device itself. No I/O, no threads, no clock of its own:
//               bytes and the time go in, bytes come out. Deterministic, so a
//               test can drive it with made-up time values.
//   PtyServer   an Instrument behind a pseudo-terminal, as a serial
//               instrument would be; clients open SlavePath().
//   TcpServer   Instruments behind a listening socket on 127.0.0.1, as a LAN
//               instrument with a raw socket would be.
//
// What the instrument understands (commands, replies, errors, timing, fault
// injection) is described in docs/simulator.md.
//
// A typical test of a program of one's own (examples/simulator.cpp):
//
//   tessel::sim::PtyServer server;                                // serves at once
//   tessel::AssignSerialPort(1, server.SlavePath());              // COM1 is the instrument
//   auto port = tessel::CreateObject("Tessel.clsComm");
//   tessel::QueryInterface<tessel::IPortSetup>(port)->OnLine(true);
//   auto io = tessel::QueryInterface<tessel::IPort>(port);
//   std::string volts = io->Receive("SOUR:VOLT 2;MEAS:VOLT?");    // "+2.000000E+00"
//   std::vector<std::string> log = server.MessageLog();           // {"SOUR:VOLT 2;MEAS:VOLT?"}
//   server.Access([](tessel::sim::Instrument& i) { i.InjectError(-300); });   // a fault on cue
//
// The instrument lives in libtessel-sim (Tessel::sim, tessel-sim.pc), apart
// from libtessel: link both for a test like this one.
//
// Errors: servers raise std::system_error when the system refuses them a
// pseudo-terminal, a socket or a port. Instrument raises std::invalid_argument
// for a fixed reply on a header it does not know. Nothing a controller sends
// raises anything: mistakes go to the instrument's error queue.
//
// Threads: an Instrument belongs to one thread at a time. Each server runs its
// instruments on a thread of its own; every member of a server may be called
// from any thread, and Access is the way to reach a served instrument.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <tessel/export.h>

namespace tessel::sim {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

// Status byte bits. Bit 6 is RQS in a serial poll and MSS in *STB?.
enum StatusBit : uint8_t {
    kMAV = 16,   // message available: the output queue is not empty
    kESB = 32,   // (event status register & its enable mask) != 0
    kRQS = 64,
    kMSS = 64,
};

// Event status register bits.
enum EventBit : uint8_t {
    kOPC = 1,    // operation complete (after *OPC)
    kRQC = 2,    // request control
    kQYE = 4,    // query error (-4xx)
    kDDE = 8,    // device-dependent error (-3xx, positive codes)
    kEXE = 16,   // execution error (-2xx)
    kCME = 32,   // command error (-1xx)
    kURQ = 64,   // user request
    kPON = 128,  // power on
};

// An operation time that never ends: INIT then keeps the instrument busy
// until *RST, ABOR or the end of the instrument.
inline constexpr std::chrono::nanoseconds kNever = std::chrono::nanoseconds::max();

struct TESSEL_API Config {
    // The *IDN? reply.
    std::string identity = "Tessel,SIM-488,0,1.0";
    // Appended to every response message. "\r\n" as serial and raw-socket
    // instruments do; "\n" for a bus where EOI marks the end.
    std::string replyTerminator = "\r\n";
    // How long INIT keeps the instrument busy; kNever for ever. SYST:OPT
    // changes it at run time, *RST restores this value.
    std::chrono::nanoseconds operationTime = std::chrono::milliseconds(100);
    // Entries kept in the error queue; the one that does not fit turns the
    // last entry into -350 "Queue overflow". At least 2.
    std::size_t errorQueueCapacity = 10;
    // The range SOUR:VOLT accepts (volts).
    double voltageMin = -10.0;
    double voltageMax = 10.0;
    // The largest block DATA? may ask for (bytes).
    std::size_t maxBlockLength = std::size_t{1} << 24;
    // Program messages the log keeps, and the bytes they may take together
    // (the newest message is kept whatever its size); older ones are dropped.
    std::size_t messageLogCapacity = 1000;
    std::size_t messageLogBytes = std::size_t{1} << 24;
    // Bytes of program messages the instrument holds: the one arriving and
    // those waiting to run behind *WAI or *OPC?. A message that does not fit
    // is dropped with -363 "Input buffer overrun", and so is the rest of it
    // up to the next LF (blocks are not followed there) or EOI.
    std::size_t inputBufferBytes = (std::size_t{1} << 24) + (std::size_t{1} << 16);
    // Bytes of replies the instrument holds: the response being formed and
    // those not taken yet. A query whose reply does not fit is answered with
    // -225 "Out of memory" in the error queue instead of a reply; the other
    // queries of its message still answer.
    std::size_t outputBufferBytes = (std::size_t{1} << 25) + (std::size_t{1} << 16);
    // Queries that answer a fixed text instead of executing, keyed by any
    // accepted spelling of the query ("*STB?", "meas:volt?"). The text is sent
    // as given, joined with other replies and terminated like any reply.
    std::map<std::string, std::string> fixedReplies{};
};

// How the controller collects replies, which decides when query errors exist.
enum class Transport {
    // Serial lines and sockets: replies leave as soon as they are formed, so
    // a reply is never left unread and a read is never refused (no -410,
    // no -420). Collect replies with TakeOutput.
    Stream,
    // A bus where the controller addresses the device to talk: a new message
    // arriving while a reply is unread is -410, a read request with nothing to
    // say is -420. Collect replies with Talk; poll with SerialPoll.
    Bus,
};

struct TESSEL_API Error {
    int code = 0;
    std::string description;
    // As SYST:ERR? answers it: -113,"Undefined header"
    std::string Text() const;
};

// Bytes taken from the output queue. `end` is true when the last byte taken
// ends a response message (where a bus asserts EOI).
struct TESSEL_API Output {
    std::string bytes;
    bool end = false;
};

// The instrument's state for tests, as of the last member that was given the
// time (an operation whose end has passed since counts as pending until
// then). Reading it changes nothing.
struct TESSEL_API Snapshot {
    uint8_t statusByte = 0;       // as *STB? answers (MSS in bit 6)
    bool serviceRequest = false;  // RQS: the service-request line is asserted
    uint8_t eventStatus = 0;      // as *ESR? would answer, without clearing it
    uint8_t eventEnable = 0;      // *ESE
    uint8_t serviceEnable = 0;    // *SRE
    std::vector<Error> errors;    // the error queue, oldest first
    bool operationPending = false;
    bool opcArmed = false;        // *OPC waits for operations to finish
    bool waiting = false;         // *WAI or *OPC? holds later commands
    double voltage = 0.0;
    std::chrono::nanoseconds operationTime{};
    std::size_t storedDataLength = 0;
    std::size_t outputBytes = 0;  // unread bytes in the output queue
    std::size_t inputBytes = 0;   // bytes of program messages held (Config::inputBufferBytes)
};

class TESSEL_API Instrument {
public:
    // Powers on: PON set, masks zero, queues empty. Raises
    // std::invalid_argument when config.fixedReplies names an unknown query.
    explicit Instrument(Config config = {}, Transport transport = Transport::Stream);
    ~Instrument();
    Instrument(Instrument&&) noexcept;
    Instrument& operator=(Instrument&&) noexcept;
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    // Bytes from the controller. A program message ends at LF, CR, CR LF, or
    // with the last byte of a call whose `end` is true (EOI); the bytes of a
    // definite-length block are taken by count and never end a message. Each
    // complete message is logged, then executed up to the first *WAI or *OPC?
    // that must wait; replies go to the output queue.
    void Receive(std::string_view bytes, bool end, TimePoint now);

    // Up to maxBytes of the output queue, never past the end of one response
    // message. Empty when there is nothing. For stream transports.
    Output TakeOutput(std::size_t maxBytes = SIZE_MAX);
    bool HasOutput() const;

    // The controller addresses the device to talk and reads up to maxBytes
    // (bus transports). With nothing in the output queue and no reply on its
    // way, records -420 and returns nothing; with a reply on its way (a query
    // waiting behind *WAI or *OPC?) returns nothing and records nothing.
    Output Talk(std::size_t maxBytes, TimePoint now);

    // The status byte with RQS in bit 6; clears RQS (releases the line).
    uint8_t SerialPoll();
    // True while the device asserts its service request.
    bool ServiceRequest() const;

    // Device clear: drops partial input, messages not yet executed and unread
    // replies, and returns *OPC and *OPC? to idle. Status, settings and running
    // operations stay.
    void DeviceClear();

    // When Update must next be called (an operation ends); nothing when no
    // operation is running or it never ends.
    std::optional<TimePoint> NextDeadline() const;
    // Finishes operations whose time has come, sets OPC when *OPC waits for
    // them, and resumes commands held by *WAI or *OPC?. Every member that
    // takes `now` does this first.
    void Update(TimePoint now);

    // ---- for tests ----

    // Makes a query answer `reply` instead of executing (no side effects: a
    // fixed *ESR? does not clear the register). Raises std::invalid_argument
    // when `query` is not a query this instrument knows.
    void SetFixedReply(std::string_view query, std::string reply);
    void ClearFixedReply(std::string_view query);
    // Queues error `code` and sets its event bit, as SIM:ERR does (-1xx CME,
    // -2xx EXE, -3xx and positive DDE, -4xx QYE, -5xx PON, -6xx URQ, -7xx RQC,
    // -8xx OPC). Raises std::invalid_argument for codes outside those.
    void InjectError(int code);
    // Program messages received, oldest first, without their terminators
    // (block bytes as sent).
    std::vector<std::string> MessageLog() const;
    void ClearMessageLog();
    // The bytes of the last DATA block written.
    const std::string& StoredData() const;
    Snapshot State() const;
    const Config& Settings() const;
    Transport GetTransport() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The standard text of an error code ("Undefined header" for -113); the
// class's generic text for codes without one of their own.
TESSEL_API std::string ErrorDescription(int code);

// An instrument behind a pseudo-terminal. The constructor opens the pair,
// sets the slave to raw mode and starts serving; the server keeps a slave
// descriptor of its own open until it stops, so clients may open, close and
// reopen SlavePath() as often as they like, and bytes a client leaves unread
// stay in the terminal. Replies are written as soon as they are formed; a
// client that does not read holds up the replies, not the server.
//
// A client should set raw mode itself (a driver does): a slave opened in
// cooked mode would echo the replies back to the instrument as commands.
class TESSEL_API PtyServer {
public:
    explicit PtyServer(Config config = {});
    // Stops.
    ~PtyServer();
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // "/dev/pts/N".
    const std::string& SlavePath() const;

    // Runs fn on the served instrument, with the server held still meanwhile,
    // then lets the server write what fn produced. fn must not call the
    // server. Any thread; blocks while the server handles an event.
    void Access(const std::function<void(Instrument&)>& fn);
    Snapshot State();
    std::vector<std::string> MessageLog();
    // Reply bytes not yet written to the terminal: those still in the
    // instrument's output queue and those the server holds while the
    // terminal is full. Zero means every reply formed so far can be read
    // (or flushed) on the slave side. Any thread; does not block on the
    // terminal.
    std::size_t UnwrittenBytes();

    // Stops serving and closes the terminal; returns once the server thread
    // has ended. Any thread but the server's (not from inside Access); a
    // second call does nothing.
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

struct TESSEL_API TcpOptions {
    // 0: an ephemeral port, see TcpServer::Port.
    uint16_t port = 0;
    // false: every connection gets a fresh instrument.
    // true: one instrument serves connections in turn: while one is open the
    // next waits in the listen queue. A connection that closes leaves the
    // instrument as a device clear does (unread replies and partial input
    // dropped, status and settings kept).
    bool shared = false;
    Config instrument;
    // Instruments of closed connections kept for Access (per-connection mode).
    std::size_t retainClosed = 16;
};

// Instruments behind a socket listening on 127.0.0.1, replies written as
// they are formed, TCP_NODELAY on every connection. A client that closes is
// noticed at once; the server never closes a connection itself until it stops.
class TESSEL_API TcpServer {
public:
    // Binds and listens, then starts serving. Raises std::system_error when
    // the port cannot be had.
    explicit TcpServer(TcpOptions options = {});
    // Stops.
    ~TcpServer();
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    // The bound port.
    uint16_t Port() const;
    // Connections accepted so far; they are numbered from 0 in this order.
    std::size_t Connections();

    // Runs fn on the instrument of connection `connection` (in shared mode,
    // on the shared instrument whatever the number), like PtyServer::Access.
    // Returns false, without calling fn, when that connection was not accepted
    // yet or its instrument is no longer kept.
    bool Access(std::size_t connection, const std::function<void(Instrument&)>& fn);
    // The shared instrument in shared mode (even before any connection); the
    // newest connection's otherwise (false when there is none).
    bool Access(const std::function<void(Instrument&)>& fn);
    // Shortcuts through Access(connection, ...): nothing when Access would
    // return false.
    std::optional<Snapshot> State(std::size_t connection);
    std::optional<std::vector<std::string>> MessageLog(std::size_t connection);

    // Closes the listener and every connection; returns once the server
    // thread has ended. A second call does nothing.
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tessel::sim
