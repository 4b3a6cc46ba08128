#include <tessel/gpib.h>

#include <algorithm>
#include <array>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <tessel/error.h>
#include <tessel/events.h>
#include <tessel/format.h>
#include <tessel/host.h>
#include <tessel/timeout.h>

#include "gpib/call_layer.h"
#include "ports/checked_send.h"
#include "ports/event_loop.h"
#include "ports/handlers.h"
#include "ports/readable_watch.h"
#include "ports/text.h"
#include "ports/wait.h"

namespace tessel {
namespace {

using namespace gpib;

constexpr const char* kLibrarySource = "GPIB-32";
constexpr const char* kInitializeSource = "clsGPIB.Class_Initialize";
constexpr const char* kOnlineSource = "clsGPIB.IPortSetup_Online";
constexpr const char* kTimeOutSource = "clsGPIB.IPort_TimeOut";
constexpr const char* kSendSource = "clsGPIB.IPort_Send";
constexpr const char* kReceiveSource = "clsGPIB.IPort_Receive";
// Named after the interface member it once was; hosts match it as it is.
constexpr const char* kSendBSource = "clsGPIB.IPort_SendB";
constexpr const char* kReceiveBSource = "clsGPIB.IPortB_ReceiveB";
constexpr const char* kSendESource = "clsGPIB.IPort_SendE";

constexpr int16_t kDefaultTimeoutCode = 11;
constexpr std::size_t kReceiveBufferLength = 1023;
constexpr float kPauseAfterWrite = 0.01f;
constexpr int16_t kBoardCount = 4;

// The bounds of one sleep while waiting for a service request from a library
// that cannot signal it: short at first so that a quick instrument is seen at
// once, then growing to what still notices a request within 2 ms.
constexpr double kFirstPollSeconds = 0.00025;
constexpr double kLongestPollSeconds = 0.002;

int16_t TimeoutCodeFor(float seconds) {
    if (seconds == 0.0f) return 0;
    for (int16_t code = 1; code < kMaxTimeoutCode; ++code)
        if (seconds <= kTimeoutSeconds[code]) return code;
    return kMaxTimeoutCode;
}

BoardEntry& Board(int16_t board) { return ThreadStatus().boards.at(static_cast<std::size_t>(board)); }

}  // namespace

// ---------------------------------------------------------------- life

clsGPIB::clsGPIB() {
    WithGeneralHandler(kInitializeSource, [&] {
        mobjSettings = Parameter::Create();
        mobjSettings->Define("GPIB", 4, 3, "", "");
        mobjSettings->Add("Board", 1, kParameterList, "0=0,1=1,2=2,3=3", "")->Value(-1, -1, Variant("0"));
        mobjSettings->Add("Primary Address", 1, kParameterRange, "0<1>30", "")->Value(-1, -1, Variant(int16_t{0}));
        mobjSettings->Add("Secondary Address", 1, kParameterRange, "0, 96<1>126", "")
            ->Value(-1, -1, Variant(int16_t{0}));
        for (auto& entry : ThreadStatus().boards)
            if (entry.users == 0) entry.descriptor = -1;
        mintDevice = -1;
        mintTimeout = kDefaultTimeoutCode;
    });
}

// Leaves the instrument in remote: only going off-line returns it to local.
clsGPIB::~clsGPIB() {
    try {
        if (mintDevice != -1) {
            --Board(mintBoard).users;
            CallIbonl(std::exchange(mintDevice, int16_t{-1}));
        }
        CloseBoardIfUnused();
    } catch (...) {
        // A library that could not be loaded has nothing open to close.
    }
}

// Reports nothing: the library's status is not examined, and the table is
// brought up to date first, so that a library that cannot be reached leaves
// this thread's boards consistent.
void clsGPIB::GoOffline() {
    const int16_t device = std::exchange(mintDevice, int16_t{-1});
    BoardEntry& entry = Board(mintBoard);
    --entry.users;
    const int16_t board = entry.users == 0 ? std::exchange(entry.descriptor, int16_t{-1}) : int16_t{-1};
    try {
        CallEnableLocal(mintBoard, mintPAD);
        CallIbonl(device);
        if (board != -1) CallIbonl(board);
    } catch (const ComError&) {
    }
}

void clsGPIB::CloseBoardIfUnused() {
    if (mintBoard < 0 || mintBoard >= kBoardCount) return;
    BoardEntry& entry = Board(mintBoard);
    if (entry.users == 0 && entry.descriptor != -1) {
        const int16_t descriptor = entry.descriptor;
        entry.descriptor = -1;
        CallIbonl(descriptor);
    }
}

// ---------------------------------------------------------------- status

std::string clsGPIB::GetGpibErrorDescription() {
    if (!Failed()) return "No error";
    return ErrorText(ThreadStatus().iberr);
}

uint16_t clsGPIB::IPort_Status() { return static_cast<uint16_t>(ThreadStatus().ibsta); }
int16_t clsGPIB::IPort_Error() { return ThreadStatus().iberr; }
int32_t clsGPIB::IPort_Count() { return static_cast<int32_t>(ThreadStatus().ibcntl); }

void clsGPIB::RaiseLibraryFailure(const char* source) {
    RaiseError(kObjectErrorBase + tibEDVR + ThreadStatus().iberr, source,
               GetGpibErrorDescription() + " at board " + FormatValue(Variant(mintBoard)) + ", address " +
                   FormatValue(Variant(mintPAD)));
}

// A failed transfer: a time-out when TIMO came with ERR, else the library's.
void clsGPIB::RaiseTransferFailure(const char* source, const char* lead) {
    if (TimedOut()) RaiseTimedOut(source, TimedOutAfter(lead, Variant(IPort_TimeOut())));
    RaiseLibraryFailure(kLibrarySource);
}

// ---------------------------------------------------------------- setup

void clsGPIB::GoOnline() {
    mintDevice = -1;
    mintBoard = mobjSettings->Item("Board")->Value(-1, -1).ToInteger();
    mintPAD = mobjSettings->Item("Primary Address")->Value(-1, -1).ToInteger();
    const int16_t secondary = mobjSettings->Item("Secondary Address")->Value(-1, -1).ToInteger();
    if (mintBoard < 0 || mintBoard >= kBoardCount) RaiseRuntimeError(kErrSubscriptOutOfRange);

    BoardEntry& entry = Board(mintBoard);
    if (entry.descriptor == -1) {
        entry.descriptor = CallIbfind(mintBoard);
        if (Failed()) RaiseLibraryFailure(kLibrarySource);
        CallIbsic(entry.descriptor);
        if (Failed()) RaiseLibraryFailure(kLibrarySource);
    }

    const int16_t listener = CallFindLstn(mintBoard, mintPAD);
    if (Failed()) RaiseLibraryFailure(kLibrarySource);
    if (listener != mintPAD || ThreadStatus().ibcntl != 1) {
        ThreadStatus().iberr = kENOL;
        RaiseError(kObjectErrorBase + tibENOL, kLibrarySource,
                   "No listener found at board " + FormatValue(Variant(mintBoard)) + ", address " +
                       FormatValue(Variant(mintPAD)));
    }

    mintDevice = CallIbdev(mintBoard, mintPAD, secondary, mintTimeout);
    if (Failed()) RaiseLibraryFailure(kLibrarySource);

    // A failed remote step hands the instrument back to local before the
    // failure is reported, with the failure's own code and text.
    for (auto remote : {&CallSetRWLS, &CallEnableRemote}) {
        remote(mintBoard, mintPAD);
        if (!Failed()) continue;
        const int16_t noted = ThreadStatus().iberr;
        const std::string text = GetGpibErrorDescription();
        CallEnableLocal(mintBoard, mintPAD);
        RaiseError(kObjectErrorBase + tibEDVR + noted, kLibrarySource,
                   text + " at board " + FormatValue(Variant(mintBoard)) + ", address " +
                       FormatValue(Variant(mintPAD)));
    }
    ++entry.users;
}

void clsGPIB::IPortSetup_OnLine(bool blnData) {
    // Off-line first, also before going on-line again, so that a repeated
    // on-line neither leaks a descriptor nor counts this object twice.
    if (mintDevice != -1) GoOffline();
    if (!blnData) return;

    try {
        GoOnline();
    } catch (const ComError& e) {
        try {
            if (mintDevice != -1) CallIbonl(std::exchange(mintDevice, int16_t{-1}));
            CloseBoardIfUnused();
        } catch (const ComError&) {
            // The failure being reported says more than the clean-up's.
        }
        Reraise(e, kOnlineSource, e.Description);
    } catch (const std::bad_alloc&) {
        mintDevice = -1;
        RaiseError(kErrOutOfMemory, kOnlineSource, RuntimeErrorText(kErrOutOfMemory));
    }
}

// ---------------------------------------------------------------- transfers

float clsGPIB::IPort_TimeOut() { return kTimeoutSeconds[mintTimeout]; }

void clsGPIB::IPort_TimeOut(float sngData) {
    mintTimeout = TimeoutCodeFor(sngData);
    if (!IPortSetup_OnLine()) return;
    WithGeneralHandler(kTimeOutSource, [&] { CallIbtmo(mintDevice, mintTimeout); });
    if (Failed()) RaiseLibraryFailure(kLibrarySource);
}

void clsGPIB::IPort_Send(std::string_view strCommand) {
    WithGeneralHandler(kSendSource, [&] {
        CallIbtmo(mintDevice, mintTimeout);
        CallSend(mintBoard, mintPAD, strCommand);
    });
    if (Failed()) RaiseTransferFailure(kSendSource, "Send timed out after ");
    WithGeneralHandler(kSendSource, [&] {
        float pause = kPauseAfterWrite;
        CurrentHostControl().Delay(pause);
        DoEvents();
    });
}

std::string clsGPIB::IPort_Receive(const Variant& strCommand) {
    if (strCommand.IsMissing()) WithGeneralHandler(kReceiveSource, [&] { CallIbtmo(mintDevice, mintTimeout); });
    else IPort_Send(WithGeneralHandler(kReceiveSource, [&] { return strCommand.ToString(); }));

    std::array<char, kReceiveBufferLength> buffer;
    buffer.fill(' ');
    WithGeneralHandler(kReceiveSource, [&] { CallReceive(mintBoard, mintPAD, buffer.data(), static_cast<long>(buffer.size())); });
    if (Failed()) RaiseTransferFailure(kReceiveSource, "Receive timed out after ");

    const long count = std::clamp<long>(ThreadStatus().ibcntl, 0, static_cast<long>(buffer.size()));
    std::string reply(TrimSpaces(std::string_view(buffer.data(), static_cast<std::size_t>(count))));
    if (!reply.empty() && reply.back() == '\n') reply.pop_back();
    WithGeneralHandler(kReceiveSource, [] { DoEvents(); });
    return reply;
}

void clsGPIB::IPortB_SendB(bool blnLastBlock, const Variant& vntData, std::string_view strCommand) {
    WithGeneralHandler(kSendBSource, [&] {
        CallIbtmo(mintDevice, mintTimeout);
        if (!strCommand.empty()) {
            CallIbeot(mintDevice, false);
            CallWrite(mintBoard, mintPAD, mintDevice, strCommand.data(), static_cast<long>(strCommand.size()));
        }
        std::vector<uint8_t> block;
        if (vntData.IsArray()) {
            block = vntData.AsBytes().bytes;
        } else {
            const std::string text = vntData.ToString();
            block.assign(text.begin(), text.end());
        }
        CallIbeot(mintDevice, blnLastBlock);
        CallWrite(mintBoard, mintPAD, mintDevice, block.data(), static_cast<long>(block.size()));
    });
    if (Failed()) RaiseTransferFailure(kSendBSource, "Send timed out after ");
    WithGeneralHandler(kSendBSource, [&] {
        float pause = kPauseAfterWrite;
        CurrentHostControl().Delay(pause);
        DoEvents();
    });
}

Variant clsGPIB::IPortB_ReceiveB(int16_t intCount, const Variant& vntCommand) {
    if (vntCommand.IsMissing()) WithGeneralHandler(kReceiveBSource, [&] { CallIbtmo(mintDevice, mintTimeout); });
    else IPort_Send(WithGeneralHandler(kReceiveBSource, [&] { return vntCommand.ToString(); }));

    std::vector<uint8_t> block = WithGeneralHandler(kReceiveBSource, [&] {
        if (intCount < 1) RaiseRuntimeError(kErrSubscriptOutOfRange);
        std::vector<uint8_t> bytes(static_cast<std::size_t>(intCount), 0);
        CallReadBytes(mintBoard, mintPAD, mintDevice, bytes.data(), intCount);
        return bytes;
    });
    if (Failed()) RaiseTransferFailure(kReceiveBSource, "Receive timed out after ");
    WithGeneralHandler(kReceiveBSource, [] { DoEvents(); });
    return Variant::Bytes(std::move(block));
}

// ---------------------------------------------------------------- checked send

// Until the service request comes, the time-out passes or the run state asks
// to stop. A pass that sees the request does not sleep; the others sleep in
// the thread's loop, woken by the library's handle when it has one.
void clsGPIB::WaitForServiceRequest() {
    HostControl& host = CurrentHostControl();
    EventLoop& loop = *EventLoop::Current();
    clsTimeout timer;
    double poll = kFirstPollSeconds;
    WithGeneralHandler(kSendESource, [&] { timer.Start(IPort_TimeOut()); });
    // Woken by the library's handle; without one, polled.
    ReadableWatch watch(loop, WithGeneralHandler(kSendESource, [] { return ServiceRequestHandle(); }));
    WaitYield yield(loop, timer, host);
    for (;;) {
        const int16_t request = WithGeneralHandler(kSendESource, [&] { return TestServiceRequest(mintBoard); });
        if (Failed()) RaiseLibraryFailure(kSendESource);
        const bool expired = WithGeneralHandler(kSendESource, [&] { return timer.State() == tmoExpired; });
        if (expired)
            RaiseTimedOut(kSendESource, TimedOutAfter("Send with handshake timed out after ", Variant(IPort_TimeOut())));
        WithGeneralHandler(kSendESource, [&] {
            if (request == 1) {
                loop.Yield();
            } else if (watch.Watching()) {
                watch.Arm();
                yield();
            } else {
                yield(poll);
                poll = std::min(poll * 2, kLongestPollSeconds);
            }
        });
        const int32_t runState = WithGeneralHandler(kSendESource, [&] { return host.RunState(); });
        if (request == 1 || RunStateStops(runState)) return;
    }
}

void clsGPIB::IPort_SendE(std::string_view strCommand, Variant* vntReturn) {
    HostControl& host = CurrentHostControl();
    auto stopRequested = [&] { return WithGeneralHandler(kSendESource, [&] { return host.StopRequested(); }); };
    auto yieldOnce = [] { WithGeneralHandler(kSendESource, [] { DoEvents(); }); };

    if (vntReturn) *vntReturn = Variant(std::string());
    const std::string command = std::string(strCommand) + "; *OPC";
    for (std::string_view message : {std::string_view("*CLS"), std::string_view("*SRE 96"),
                                     std::string_view("*ESE 61"), std::string_view(command)}) {
        if (stopRequested()) return;
        IPort_Send(message);
    }
    if (stopRequested()) return;

    WaitForServiceRequest();
    if (stopRequested()) return;

    const int16_t statusByte = WithGeneralHandler(kSendESource, [&] { return CallReadStatusByte(mintBoard, mintPAD); });
    if (Failed()) RaiseLibraryFailure(kSendESource);
    yieldOnce();
    if (stopRequested()) return;

    if (statusByte & kMessageAvailableBit) {
        std::string reply = IPort_Receive(Variant::Missing());
        if (!vntReturn)
            RaiseError(kObjectErrorBase + kErrReturnParameterMissing, kSendESource, "Return parameter missing");
        *vntReturn = Variant(std::move(reply));
    }
    yieldOnce();
    if (!(statusByte & kEventSummaryBit))
        RaiseError(kObjectErrorBase + kErrEventRegisterClear, kSendESource, "Event register was unexpectedly clear");
    yieldOnce();
    if (stopRequested()) return;

    const std::string event = IPort_Receive(Variant("*ESR?"));
    if (stopRequested()) return;
    const int16_t eventStatus = WithGeneralHandler(kSendESource, [&] { return Variant(event).ToInteger(); });
    RaiseEventStatus(eventStatus, kSendESource);
    yieldOnce();
}

}  // namespace tessel
