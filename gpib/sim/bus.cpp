// The simulated GPIB library: the standard C API over a bus of simulated
// instruments, plus the control calls of <tessel/gpib_sim.h>.
//
// All state sits in one Bus behind one mutex. Calls that wait (a read from a
// silent device, a write to one that holds off) sleep on a condition variable
// with the lock released, until the time-out code's nominal time, an
// instrument's next deadline, or a change made by another thread.
#include <tessel/gpib_sim.h>

#include <sys/timerfd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

#include <tessel/sim.h>

#include "gpib/gpib_functions.h"
#include "ports/unique_fd.h"

using namespace tessel::gpib;
using tessel::sim::Clock;
using tessel::sim::Instrument;
using tessel::sim::TimePoint;

namespace {

constexpr int kBoards = 4;
constexpr int kFirstDeviceDescriptor = 32;
constexpr std::size_t kCallLogLimit = 4096;
constexpr int kDefaultTimeoutCode = 13;  // what a board or device starts with: 10 s
constexpr const char* kInstrumentsVariable = "TESSEL_GPIB_SIM_INSTRUMENTS";
constexpr long kEnvironmentOperationMs = 100;  // how long INIT keeps those busy

struct Device {
    Device(int secondary, long operationMs) : instrument(MakeConfig(operationMs), tessel::sim::Transport::Bus), sad(secondary) {}
    static tessel::sim::Config MakeConfig(long operationMs) {
        tessel::sim::Config config;
        config.replyTerminator = "\n";
        config.operationTime = operationMs < 0 ? tessel::sim::kNever : std::chrono::milliseconds(operationMs);
        return config;
    }
    Instrument instrument;
    int sad;
    bool remote = false;
    bool lockout = false;
    bool accepting = true;
    long serviceDelayMs = 0;
    std::optional<TimePoint> requestSince;  // when the instrument last asserted its request
};

// A call as logged: formatted only when the log is read, so that logging
// costs a call next to nothing.
struct LoggedCall {
    const char* function;
    std::string text;  // ibfind's name
    int argc = 0;
    std::array<long, 6> args{};
    std::string Line() const {
        std::string line = function;
        if (!text.empty()) line += ' ' + text;
        for (int i = 0; i < argc; ++i) line += ' ' + std::to_string(args[static_cast<std::size_t>(i)]);
        return line;
    }
};

struct Descriptor {
    int board;
    int pad;
    int sad;
    bool eot;
};

struct Bus {
    Bus() {
        timer.reset(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
    }
    std::mutex mu;
    std::condition_variable changed;
    std::array<std::map<int, Device>, kBoards> boards;
    std::array<int, kBoards> opens{};
    std::array<bool, kBoards> lineWasAsserted{};
    std::map<int, Descriptor> devices;
    int nextDescriptor = kFirstDeviceDescriptor;
    // Time-out code per board, and per address the code last set on a device
    // descriptor of it: board-level transfers to an address use the latter.
    std::array<int, kBoards> boardTimeout{kDefaultTimeoutCode, kDefaultTimeoutCode, kDefaultTimeoutCode,
                                          kDefaultTimeoutCode};
    std::map<std::pair<int, int>, int> addressTimeout;
    std::deque<LoggedCall> log;
    std::map<std::string, std::size_t, std::less<>> counts;
    std::map<std::string, int, std::less<>> failNext;
    int forcedRegistration = 0;
    int forcedRegistrations = 0;  // how many more registrations return it
    tessel::UniqueFd timer;
    // The next moment an instrument may change by itself (Advance).
    std::optional<TimePoint> nextChange;
    // What the handle's timer is set to; none while disarmed. Kept so that a
    // call that changes nothing costs no system call.
    std::optional<TimePoint> armedFor;
};

Bus& TheBus() {
    static Bus bus;
    return bus;
}

// The calling thread's status, and the caller's cells once registered.
struct ThreadStatus {
    int sta = 0;
    int err = 0;
    long cntl = 0;
    int* staCell = nullptr;
    int* errCell = nullptr;
    int* cntCell = nullptr;
    long* cntlCell = nullptr;
    bool Registered() const { return staCell != nullptr; }
};
thread_local ThreadStatus t_status;

int Finish(int sta, int err = 0, long cntl = 0) {
    // The error code stays from the last failure, as real libraries leave it.
    t_status.sta = sta;
    if (sta & kERR) t_status.err = err;
    t_status.cntl = cntl;
    if (t_status.Registered()) {
        *t_status.staCell = t_status.sta;
        *t_status.errCell = t_status.err;
        *t_status.cntCell = static_cast<int>(cntl);
        *t_status.cntlCell = cntl;
    }
    return sta;
}

int Fail(int err, long cntl = 0) { return Finish(kERR, err, cntl); }

bool ValidBoard(int board) { return board >= 0 && board < kBoards; }
bool ValidPad(int pad) { return pad >= 0 && pad <= 30; }
bool ValidSad(int sad) { return sad == 0 || (sad >= 96 && sad <= 126); }

std::chrono::nanoseconds TimeoutOf(int code) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::duration<double>(kTimeoutSeconds[std::clamp(code, 0, kMaxTimeoutCode)]));
}

// Logs a call; a failure a test asked for when there is one.
template <class... Args>
std::optional<int> Enter(Bus& bus, const char* function, const Args&... args) {
    LoggedCall& call = bus.log.emplace_back();
    call.function = function;
    auto add = [&](const auto& a) {
        if constexpr (std::is_convertible_v<decltype(a), std::string_view>) call.text = a ? a : "(null)";
        else call.args[static_cast<std::size_t>(call.argc++)] = static_cast<long>(a);
    };
    (add(args), ...);
    (void)add;
    if (bus.log.size() > kCallLogLimit) bus.log.pop_front();
    auto count = bus.counts.find(std::string_view(function));
    if (count == bus.counts.end()) count = bus.counts.emplace(function, 0).first;
    ++count->second;
    if (bus.failNext.empty()) return std::nullopt;
    auto forced = bus.failNext.find(std::string_view(function));
    if (forced == bus.failNext.end()) return std::nullopt;
    const int err = forced->second;
    bus.failNext.erase(forced);
    return err;
}

Device* Find(Bus& bus, int board, int pad) {
    if (!ValidBoard(board)) return nullptr;
    auto it = bus.boards[board].find(pad);
    return it == bus.boards[board].end() ? nullptr : &it->second;
}

bool LineAsserted(const Bus& bus, int board, TimePoint now) {
    for (const auto& [pad, device] : bus.boards[board]) {
        if (!device.requestSince || device.serviceDelayMs < 0) continue;
        if (now >= *device.requestSince + std::chrono::milliseconds(device.serviceDelayMs)) return true;
    }
    return false;
}

void ArmTimer(Bus& bus, std::optional<TimePoint> when) {
    if (when == bus.armedFor) return;
    bus.armedFor = when;
    itimerspec deadline{};
    if (when) {
        const auto since = std::max(when->time_since_epoch(), std::chrono::nanoseconds(1));
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
        deadline.it_value.tv_sec = seconds.count();
        deadline.it_value.tv_nsec = static_cast<long>((since - seconds).count());
    }
    ::timerfd_settime(bus.timer.get(), TFD_TIMER_ABSTIME, &deadline, nullptr);
}

// Brings every instrument up to `now`, follows their service requests onto the
// lines, and arms the handle for the next moment something may change: at once
// when a line has just been asserted, else the earliest deadline.
// Waiters are woken unless the caller is one of them about to sleep.
void Advance(Bus& bus, TimePoint now = Clock::now(), bool notify = true) {
    if (bus.armedFor && now >= *bus.armedFor) {
        // Expired: clear the handle, which also leaves the timer disarmed.
        uint64_t expirations;
        while (::read(bus.timer.get(), &expirations, sizeof expirations) > 0) {
        }
        bus.armedFor.reset();
    }
    std::optional<TimePoint> next;
    auto earliest = [&](TimePoint t) { next = next ? std::min(*next, t) : t; };
    bool wake = false;
    for (int board = 0; board < kBoards; ++board) {
        for (auto& [pad, device] : bus.boards[board]) {
            device.instrument.Update(now);
            if (!device.instrument.ServiceRequest()) device.requestSince.reset();
            else if (!device.requestSince) device.requestSince = now;
            if (auto deadline = device.instrument.NextDeadline()) earliest(*deadline);
            if (device.requestSince && device.serviceDelayMs > 0) {
                const TimePoint visible = *device.requestSince + std::chrono::milliseconds(device.serviceDelayMs);
                if (visible > now) earliest(visible);
            }
        }
        const bool asserted = LineAsserted(bus, board, now);
        if (asserted && !bus.lineWasAsserted[board]) wake = true;
        bus.lineWasAsserted[board] = asserted;
    }
    bus.nextChange = next;
    ArmTimer(bus, wake ? std::optional<TimePoint>(now) : next);
    if (notify) bus.changed.notify_all();
}

// Sleeps until `deadline` (none: for ever), the next moment an instrument
// may change by itself, or a change by another thread, whichever comes first.
void Sleep(Bus& bus, std::unique_lock<std::mutex>& lock, std::optional<TimePoint> deadline) {
    Advance(bus, Clock::now(), false);
    std::optional<TimePoint> until = deadline;
    if (bus.nextChange) until = until ? std::min(*until, *bus.nextChange) : *bus.nextChange;
    if (until) bus.changed.wait_until(lock, *until);
    else bus.changed.wait(lock);
}

std::optional<TimePoint> DeadlineOf(int code, TimePoint start) {
    if (code == 0) return std::nullopt;
    return start + TimeoutOf(code);
}

int AddressTimeout(const Bus& bus, int board, int pad) {
    auto it = bus.addressTimeout.find({board, pad});
    return it == bus.addressTimeout.end() ? bus.boardTimeout[board] : it->second;
}

// Writes to the instrument at board/pad. Holds the lock except while a device
// that holds off is waited for.
int Write(Bus& bus, std::unique_lock<std::mutex>& lock, int board, int pad, std::string_view bytes, bool end,
          int timeoutCode, int okStatus) {
    const TimePoint start = Clock::now();
    const auto deadline = DeadlineOf(timeoutCode, start);
    for (;;) {
        Device* device = Find(bus, board, pad);
        if (!device) return Fail(kENOL);
        if (device->accepting) break;
        if (deadline && Clock::now() >= *deadline) return Finish(kERR | kTIMO | okStatus, kEABO, 0);
        Sleep(bus, lock, deadline);
    }
    Instrument& instrument = Find(bus, board, pad)->instrument;
    try {
        instrument.Receive(bytes, end, Clock::now());
    } catch (const std::exception&) {
        // Nothing may escape a C call: the instrument drops the input as a
        // device clear does and reports it, as its servers do.
        instrument.DeviceClear();
        instrument.InjectError(-225);
    }
    Advance(bus);
    return Finish(okStatus, 0, static_cast<long>(bytes.size()));
}

// Reads from the instrument at board/pad until EOI, `count` bytes, or the
// byte `stop` (negative: none), waiting at most the time-out code's time.
int Read(Bus& bus, std::unique_lock<std::mutex>& lock, int board, int pad, char* buffer, long count, int stop,
         int timeoutCode, int okStatus) {
    const TimePoint start = Clock::now();
    const auto deadline = DeadlineOf(timeoutCode, start);
    long got = 0;
    for (bool first = true;; first = false) {
        Device* device = Find(bus, board, pad);
        if (!device) return Fail(kENOL, got);
        // Addressing a silent device to talk is a query error once per read,
        // not once per wake-up.
        device->instrument.Update(Clock::now());
        if (!first && !device->instrument.HasOutput()) {
            if (deadline && Clock::now() >= *deadline) return Finish(kERR | kTIMO | okStatus, kEABO, got);
            Sleep(bus, lock, deadline);
            continue;
        }
        const auto want = static_cast<std::size_t>(count - got);
        auto out = device->instrument.Talk(want, Clock::now());
        if (stop >= 0) {
            const auto at = out.bytes.find(static_cast<char>(stop));
            if (at != std::string::npos) {
                // What follows the end character stays unread: give it back by
                // counting only up to it.
                out.bytes.resize(at + 1);
                out.end = true;
            }
        }
        std::memcpy(buffer + got, out.bytes.data(), out.bytes.size());
        got += static_cast<long>(out.bytes.size());
        Advance(bus);
        if (out.end) return Finish(okStatus | kEND, 0, got);
        if (got == count) return Finish(okStatus, 0, got);
        if (!out.bytes.empty()) continue;
        if (deadline && Clock::now() >= *deadline) return Finish(kERR | kTIMO | okStatus, kEABO, got);
        Sleep(bus, lock, deadline);
    }
}

std::optional<Descriptor> DeviceDescriptor(const Bus& bus, int ud) {
    auto it = bus.devices.find(ud);
    if (it == bus.devices.end()) return std::nullopt;
    return it->second;
}

constexpr int kBoardOk = kCMPL | kCIC;

// The addresses of a list up to kNoAddress.
template <class F>
int ForEachAddress(const Addr4882* list, F&& fn) {
    int n = 0;
    for (; list && list[n] != kNoAddress; ++n) {
        if (int err = fn(list[n] & 0xFF, list[n] >> 8); err >= 0) return err;
    }
    return -1;
}

long CopyOut(const std::string& text, char* buffer, std::size_t size) {
    if (buffer && size > 0) {
        const std::size_t n = std::min(text.size(), size - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<long>(text.size());
}

}  // namespace

// ------------------------------------------------------------ GPIB C API

extern "C" {

TESSEL_API int ibfind(const char* name) {
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mu);
    if (auto forced = Enter(bus, "ibfind", name)) return Fail(*forced), -1;
    const std::string_view text = name ? name : "";
    for (int board = 0; board < kBoards; ++board) {
        if (text.size() == 5 && strncasecmp(text.data(), "GPIB", 4) == 0 && text[4] == '0' + board) {
            ++bus.opens[board];
            Finish(kBoardOk);
            return board;
        }
    }
    Fail(kEDVR);
    return -1;
}

TESSEL_API int ibsic(int ud) {
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mu);
    if (auto forced = Enter(bus, "ibsic", ud)) return Fail(*forced);
    if (!ValidBoard(ud)) return Fail(bus.devices.count(ud) ? kEARG : kEDVR);
    for (auto& [pad, device] : bus.boards[ud]) device.instrument.DeviceClear();
    Advance(bus);
    return Finish(kBoardOk);
}

TESSEL_API int ibdev(int board, int pad, int sad, int tmo, int eot, int eos) {
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mu);
    if (auto forced = Enter(bus, "ibdev", board, pad, sad, tmo, eot, eos)) return Fail(*forced), -1;
    if (!ValidBoard(board)) return Fail(kENEB), -1;
    if (!ValidPad(pad) || !ValidSad(sad) || tmo < 0 || tmo > kMaxTimeoutCode) return Fail(kEARG), -1;
    const int ud = bus.nextDescriptor++;
    bus.devices[ud] = Descriptor{board, pad, sad, eot != 0};
    bus.addressTimeout[{board, pad}] = tmo;
    Finish(kCMPL);
    return ud;
}

TESSEL_API int ibonl(int ud, int online) {
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mu);
    if (auto forced = Enter(bus, "ibonl", ud, online)) return Fail(*forced);
    if (ValidBoard(ud)) {
        if (online == 0 && bus.opens[ud] > 0) --bus.opens[ud];
        return Finish(kBoardOk);
    }
    if (!bus.devices.count(ud)) return Fail(kEDVR);
    if (online == 0) bus.devices.erase(ud);
    return Finish(kCMPL);
}

TESSEL_API int ibtmo(int ud, int code) {
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mu);
    if (auto forced = Enter(bus, "ibtmo", ud, code)) return Fail(*forced);
    if (code < 0 || code > kMaxTimeoutCode) return Fail(kEARG);
    if (ValidBoard(ud)) {
        bus.boardTimeout[ud] = code;
        return Finish(kBoardOk);
    }
    auto d = DeviceDescriptor(bus, ud);
    if (!d) return Fail(kEDVR);
    bus.addressTimeout[{d->board, d->pad}] = code;
    return Finish(kCMPL);
}

TESSEL_API int ibeot(int ud, int eot) {
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mu);
    if (auto forced = Enter(bus, "ibeot", ud, eot)) return Fail(*forced);
    auto it = bus.devices.find(ud);
    if (it == bus.devices.end()) return Fail(ValidBoard(ud) ? kECAP : kEDVR);
    it->second.eot = eot != 0;
    return Finish(kCMPL);
}

TESSEL_API int ibwrt(int ud, const void* buffer, long count) {
    Bus& bus = TheBus();
    std::unique_lock lock(bus.mu);
    if (auto forced = Enter(bus, "ibwrt", ud, count)) return Fail(*forced);
    auto d = DeviceDescriptor(bus, ud);
    if (!d) return Fail(ValidBoard(ud) ? kECAP : kEDVR);
    if (count < 0 || (count > 0 && !buffer)) return Fail(kEARG);
    return Write(bus, lock, d->board, d->pad, std::string_view(static_cast<const char*>(buffer), count), d->eot,
                 AddressTimeout(bus, d->board, d->pad), kCMPL);
}

TESSEL_API int ibrd(int ud, void* buffer, long count) {
    Bus& bus = TheBus();
    std::unique_lock lock(bus.mu);
    if (auto forced = Enter(bus, "ibrd", ud, count)) return Fail(*forced);
    auto d = DeviceDescriptor(bus, ud);
    if (!d) return Fail(ValidBoard(ud) ? kECAP : kEDVR);
    if (count < 0 || (count > 0 && !buffer)) return Fail(kEARG);
    return Read(bus, lock, d->board, d->pad, static_cast<char*>(buffer), count, -1,
                AddressTimeout(bus, d->board, d->pad), kCMPL);
}

// Board descriptors report SRQI while their line is asserted, device
// descriptors RQS while their instrument requests service. A mask other than
// 0 waits until one of its bits is reported, or its TIMO bit for the time-out.
TESSEL_API int ibwait(int ud, int mask) {
    Bus& bus = TheBus();
    std::unique_lock lock(bus.mu);
    if (auto forced = Enter(bus, "ibwait", ud, mask)) return Fail(*forced);
    const bool board = ValidBoard(ud);
    auto d = DeviceDescriptor(bus, ud);
    if (!board && !d) return Fail(kEDVR);
    const int timeoutCode = board ? bus.boardTimeout[ud] : AddressTimeout(bus, d->board, d->pad);
    const auto deadline = (mask & kTIMO) ? DeadlineOf(timeoutCode, Clock::now()) : std::nullopt;
    for (;;) {
        Advance(bus, Clock::now(), false);
        const TimePoint now = Clock::now();
        int sta = board ? kBoardOk : kCMPL;
        if (board && LineAsserted(bus, ud, now)) sta |= kSRQI;
        if (!board)
            if (Device* device = Find(bus, d->board, d->pad); device && device->instrument.ServiceRequest())
                sta |= kRQS;
        if (deadline && now >= *deadline) sta |= kTIMO;
        if ((mask & ~kTIMO) == 0 && !(mask & kTIMO)) return Finish(sta);
        if (sta & mask) return Finish(sta);
        Sleep(bus, lock, deadline);
    }
}

TESSEL_API void FindLstn(int board, const Addr4882* addresses, Addr4882* results, int limit) {
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mu);
    if (auto forced = Enter(bus, "FindLstn", board, limit)) return static_cast<void>(Fail(*forced));
    if (!ValidBoard(board)) return static_cast<void>(Fail(kENEB));
    if (!addresses || !results || limit < 1) return static_cast<void>(Fail(kEARG));
    int found = 0;
    bool overflow = false;
    ForEachAddress(addresses, [&](int pad, int) {
        if (!Find(bus, board, pad)) return -1;
        if (found == limit) {
            overflow = true;
            return 0;
        }
        results[found++] = static_cast<Addr4882>(pad);
        return -1;
    });
    if (overflow) return static_cast<void>(Fail(kETAB, found));
    Finish(kBoardOk, 0, found);
}

}  // extern "C"

namespace {
// SetRWLS, EnableRemote and EnableLocal: each listed instrument must listen.
void AddressListCall(const char* name, int board, const Addr4882* addresses,
                     void (*apply)(Device&), void (*applyAll)(Device&)) {
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mu);
    if (auto forced = Enter(bus, name, board)) return static_cast<void>(Fail(*forced));
    if (!ValidBoard(board)) return static_cast<void>(Fail(kENEB));
    if (!addresses || addresses[0] == kNoAddress) {
        if (!applyAll) return static_cast<void>(Fail(kEARG));
        for (auto& [pad, device] : bus.boards[board]) applyAll(device);
        return static_cast<void>(Finish(kBoardOk));
    }
    const int err = ForEachAddress(addresses, [&](int pad, int) {
        Device* device = Find(bus, board, pad);
        if (!device) return static_cast<int>(kENOL);
        apply(*device);
        return -1;
    });
    if (err >= 0) return static_cast<void>(Fail(err));
    Finish(kBoardOk);
}
}  // namespace

extern "C" {

TESSEL_API void SetRWLS(int board, const Addr4882* addresses) {
    AddressListCall("SetRWLS", board, addresses, [](Device& d) { d.remote = d.lockout = true; }, nullptr);
}

TESSEL_API void EnableRemote(int board, const Addr4882* addresses) {
    AddressListCall("EnableRemote", board, addresses, [](Device& d) { d.remote = true; }, nullptr);
}

// Go to local keeps a lockout; releasing the remote line ends it for all.
TESSEL_API void EnableLocal(int board, const Addr4882* addresses) {
    AddressListCall("EnableLocal", board, addresses, [](Device& d) { d.remote = false; },
                    [](Device& d) { d.remote = d.lockout = false; });
}

TESSEL_API void Send(int board, Addr4882 address, const void* buffer, long count, int end_mode) {
    Bus& bus = TheBus();
    std::unique_lock lock(bus.mu);
    if (auto forced = Enter(bus, "Send", board, address, count, end_mode)) return static_cast<void>(Fail(*forced));
    if (!ValidBoard(board)) return static_cast<void>(Fail(kENEB));
    if (count < 0 || (count > 0 && !buffer) || end_mode < kNullEnd || end_mode > kDABEnd)
        return static_cast<void>(Fail(kEARG));
    std::string bytes(static_cast<const char*>(buffer), static_cast<std::size_t>(count));
    if (end_mode == kNLEnd) bytes += '\n';
    const int pad = address & 0xFF;
    Write(bus, lock, board, pad, bytes, end_mode != kNullEnd, AddressTimeout(bus, board, pad), kBoardOk);
    if (!(t_status.sta & kERR)) Finish(kBoardOk, 0, count);
}

TESSEL_API void Receive(int board, Addr4882 address, void* buffer, long count, int termination) {
    Bus& bus = TheBus();
    std::unique_lock lock(bus.mu);
    if (auto forced = Enter(bus, "Receive", board, address, count, termination))
        return static_cast<void>(Fail(*forced));
    if (!ValidBoard(board)) return static_cast<void>(Fail(kENEB));
    if (count < 0 || (count > 0 && !buffer)) return static_cast<void>(Fail(kEARG));
    const int pad = address & 0xFF;
    const int stop = termination == kStopEnd ? -1 : (termination & 0xFF);
    Read(bus, lock, board, pad, static_cast<char*>(buffer), count, stop, AddressTimeout(bus, board, pad), kBoardOk);
}

TESSEL_API void ReadStatusByte(int board, Addr4882 address, short* result) {
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mu);
    if (auto forced = Enter(bus, "ReadStatusByte", board, address)) return static_cast<void>(Fail(*forced));
    if (!ValidBoard(board)) return static_cast<void>(Fail(kENEB));
    if (!result) return static_cast<void>(Fail(kEARG));
    Device* device = Find(bus, board, address & 0xFF);
    if (!device) return static_cast<void>(Fail(kENOL));
    device->instrument.Update(Clock::now());
    *result = device->instrument.SerialPoll();
    Advance(bus);
    Finish(kBoardOk, 0, 1);
}

TESSEL_API int RegisterGpibGlobalsForThread(int* status, int* error, int* count, long* count_long) {
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mu);
    Enter(bus, "RegisterGpibGlobalsForThread");
    int result = t_status.Registered() ? 1 : 0;
    if (bus.forcedRegistrations > 0) {
        --bus.forcedRegistrations;
        result = bus.forcedRegistration;
        if (result == 1) return result;  // "already registered", without being so
    }
    if (result == 0) {
        if (!status || !error || !count || !count_long) return 2;
        t_status.staCell = status;
        t_status.errCell = error;
        t_status.cntCell = count;
        t_status.cntlCell = count_long;
    }
    return result;
}

TESSEL_API void UnregisterGpibGlobalsForThread() {
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mu);
    Enter(bus, "UnregisterGpibGlobalsForThread");
    t_status.staCell = t_status.errCell = t_status.cntCell = nullptr;
    t_status.cntlCell = nullptr;
}

TESSEL_API int ThreadIbsta() { return t_status.sta; }
TESSEL_API int ThreadIberr() { return t_status.err; }
TESSEL_API long ThreadIbcntl() { return t_status.cntl; }

// ------------------------------------------------------------ control

TESSEL_API void TesselGpibSimReset(void) {
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mu);
    for (auto& board : bus.boards) board.clear();
    bus.opens = {};
    bus.lineWasAsserted = {};
    ArmTimer(bus, std::nullopt);
    bus.devices.clear();
    bus.nextDescriptor = kFirstDeviceDescriptor;
    bus.boardTimeout.fill(kDefaultTimeoutCode);
    bus.addressTimeout.clear();
    bus.log.clear();
    bus.counts.clear();
    bus.failNext.clear();
    bus.forcedRegistrations = 0;
    Advance(bus);
}

}  // extern "C"

namespace {
// Runs fn on the instrument at board/pad under the lock, then lets the bus
// follow what it changed.
template <class F>
int WithDevice(int board, int pad, F&& fn) {
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mu);
    Device* device = Find(bus, board, pad);
    if (!device) return -1;
    const int result = fn(*device);
    Advance(bus);
    return result;
}
}  // namespace

extern "C" {

TESSEL_API int TesselGpibSimPlace(int board, int pad, int sad, long operation_ms) {
    if (!ValidBoard(board) || !ValidPad(pad) || !ValidSad(sad)) return -1;
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mu);
    bus.boards[board].erase(pad);
    bus.boards[board].emplace(std::piecewise_construct, std::forward_as_tuple(pad),
                              std::forward_as_tuple(sad, operation_ms));
    Advance(bus);
    return 0;
}

TESSEL_API int TesselGpibSimRemove(int board, int pad) {
    if (!ValidBoard(board)) return -1;
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mu);
    if (bus.boards[board].erase(pad) == 0) return -1;
    Advance(bus);
    return 0;
}

TESSEL_API int TesselGpibSimSetServiceDelay(int board, int pad, long delay_ms) {
    return WithDevice(board, pad, [&](Device& d) { return d.serviceDelayMs = delay_ms, 0; });
}

TESSEL_API int TesselGpibSimSetAccepting(int board, int pad, int accepting) {
    return WithDevice(board, pad, [&](Device& d) { return d.accepting = accepting != 0, 0; });
}

TESSEL_API int TesselGpibSimSetFixedReply(int board, int pad, const char* query, const char* reply) {
    if (!query) return -1;
    return WithDevice(board, pad, [&](Device& d) {
        try {
            if (reply) d.instrument.SetFixedReply(query, reply);
            else d.instrument.ClearFixedReply(query);
            return 0;
        } catch (const std::invalid_argument&) {
            return -1;
        }
    });
}

TESSEL_API int TesselGpibSimInjectError(int board, int pad, int code) {
    return WithDevice(board, pad, [&](Device& d) {
        try {
            d.instrument.InjectError(code);
            return 0;
        } catch (const std::invalid_argument&) {
            return -1;
        }
    });
}

TESSEL_API long TesselGpibSimMessageLog(int board, int pad, char* buffer, size_t size) {
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mu);
    Device* device = Find(bus, board, pad);
    if (!device) return -1;
    std::string text;
    for (const auto& message : device->instrument.MessageLog()) text += message + '\n';
    return CopyOut(text, buffer, size);
}

TESSEL_API int TesselGpibSimRemoteState(int board, int pad) {
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mu);
    Device* device = Find(bus, board, pad);
    if (!device) return -1;
    return (device->remote ? 1 : 0) | (device->lockout ? 2 : 0);
}

TESSEL_API int TesselGpibSimBoardOpenCount(int board) {
    if (!ValidBoard(board)) return -1;
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mu);
    return bus.opens[board];
}

TESSEL_API void TesselGpibSimFailNext(const char* function, int iberr) {
    if (!function) return;
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mu);
    bus.failNext[function] = iberr;
}

TESSEL_API void TesselGpibSimForceRegistration(int result, int times) {
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mu);
    bus.forcedRegistration = result;
    bus.forcedRegistrations = std::max(times, 0);
}

TESSEL_API size_t TesselGpibSimCallCount(const char* function) {
    if (!function) return 0;
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mu);
    auto it = bus.counts.find(std::string_view(function));
    return it == bus.counts.end() ? 0 : it->second;
}

TESSEL_API long TesselGpibSimCallLog(char* buffer, size_t size) {
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mu);
    std::string text;
    for (const auto& call : bus.log) text += call.Line() + '\n';
    return CopyOut(text, buffer, size);
}

TESSEL_API void TesselGpibSimClearCallLog(void) {
    Bus& bus = TheBus();
    std::lock_guard lock(bus.mu);
    bus.log.clear();
    bus.counts.clear();
}

TESSEL_API int TesselGpibSimServiceRequestHandle(void) { return TheBus().timer.get(); }

}  // extern "C"

namespace {

std::optional<int> WholeNumber(std::string_view text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// "BOARD:ADDRESS[:SECONDARY]": true when it named a place and the instrument
// is there now.
bool PlaceNamed(std::string_view item) {
    const auto colon = item.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string_view rest = item.substr(colon + 1);
    const auto second = rest.find(':');
    const auto board = WholeNumber(item.substr(0, colon));
    const auto pad = WholeNumber(rest.substr(0, second));
    const auto sad = second == std::string_view::npos ? std::optional<int>(0) : WholeNumber(rest.substr(second + 1));
    return board && pad && sad && TesselGpibSimPlace(*board, *pad, *sad, kEnvironmentOperationMs) == 0;
}

// A program that cannot call TesselGpibSimPlace (the tessel command, a host
// of the driver) still finds instruments on the bus: those named in the
// environment are placed as the library loads. A wrong item is skipped and
// said so, the others are placed.
[[maybe_unused]] const bool g_placedFromEnvironment = [] {
    const char* text = std::getenv(kInstrumentsVariable);
    if (text == nullptr) return false;
    std::string_view rest(text);
    while (!rest.empty()) {
        const auto comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        if (!PlaceNamed(item))
            std::fprintf(stderr, "%s: \"%.*s\" is not BOARD:ADDRESS[:SECONDARY] of the simulated bus, skipped\n",
                         kInstrumentsVariable, static_cast<int>(item.size()), item.data());
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    return true;
}();

}  // namespace
