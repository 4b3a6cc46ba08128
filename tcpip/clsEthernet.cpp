#include <tessel/ethernet.h>

#include <algorithm>
#include <iterator>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include <tessel/error.h>
#include <tessel/format.h>
#include <tessel/host.h>
#include <tessel/timeout.h>

#include "ports/checked_send.h"
#include "ports/event_loop.h"
#include "ports/handlers.h"
#include "ports/wait.h"
#include "tcpip/frmWinsock.h"
#include "tcpip/socket_errors.h"

namespace tessel {
namespace {

using tcpip::kSocketSource;

constexpr const char* kInitializeSource = "clsEthernet.Class_Initialize";
// Going on- and off-line: errors caught on the way carry the first, the
// member's own time-outs the second. Hosts match both as they are.
constexpr const char* kOnlineSource = "clsEthernet.IPortSetup_Online";
constexpr const char* kOnLineTimeOutSource = "clsEthernet.IPortSetup_OnLine";
constexpr const char* kTimeOutSource = "clsEthernet.IPort_TimeOut";
constexpr const char* kSendSource = "clsEthernet.IPort_Send";
constexpr const char* kReceiveSource = "clsEthernet.IPort_Receive";
constexpr const char* kSendBSource = "clsEthernet.IPortB_SendB";
constexpr const char* kReceiveBSource = "clsEthernet.IPortB_ReceiveB";
constexpr const char* kSendESource = "clsEthernet.IPort_SendE";

// Connecting and closing wait a fixed time of their own: TimeOut is sized for
// an instrument's replies, not for a network's.
constexpr float kConnectionWait = 5.0f;

constexpr std::size_t kTypicalReplyBytes = 64;

// By socket state code, 0 to 9.
constexpr const char* kStateTexts[] = {
    "Closed",
    "Open",
    "Listening",
    "Connection pending",
    "Resolving Host",
    "Host resolved",
    "Connecting",
    "Connected",
    "Peer is closing the connection",
    "Error",
};

[[noreturn]] void RaiseTimeOut(const char* source, const char* lead, const Variant& seconds) {
    RaiseTimedOut(source, TimedOutAfter(lead, seconds));
}

bool EndsWithLineEnd(const std::string& text) {
    return text.size() >= 2 && text[text.size() - 2] == '\r' && text.back() == '\n';
}

template <class F>
decltype(auto) UnderSocket(F&& fn) {
    return WithTransportHandler(kSocketSource, [](const ComError& e) { return e.Description; }, std::forward<F>(fn));
}

}  // namespace

// Clears the recorded socket error, makes the call under the socket handler,
// yields once so that the socket's events for it are delivered, and raises
// what they recorded. Waits pass their own yield so that they sleep.
template <class Call, class Yield>
decltype(auto) clsEthernet::GuardedSocketCall(Call&& call, Yield&& yield) {
    mudtSocketError.Number = 0;
    auto raiseRecorded = [&] {
        UnderSocket(yield);
        if (mudtSocketError.Number != 0)
            RaiseError(mudtSocketError.Number, kSocketSource, mudtSocketError.Description, mudtSocketError.HelpFile,
                       mudtSocketError.HelpContext);
    };
    if constexpr (std::is_void_v<decltype(call())>) {
        UnderSocket(call);
        raiseRecorded();
    } else {
        auto result = UnderSocket(call);
        raiseRecorded();
        return result;
    }
}

template <class Call>
decltype(auto) clsEthernet::GuardedSocketCall(Call&& call) {
    // The socket raises what a call causes at once (SendComplete, a failed
    // send) as posted events, which even a shared look delivers.
    return GuardedSocketCall(std::forward<Call>(call), [this] { mobjLoop->Yield(); });
}

clsEthernet::clsEthernet() : mobjLoop(EventLoop::Current()) {
    WithGeneralHandler(kInitializeSource, [&] {
        mobjSettings = Parameter::Create();
        mobjSettings->Define("TCP/IP", 4, 3, "", "");
        mobjSettings->Add("Remote Host", 1, kParameterText, "", "")->Value(-1, -1, Variant("192.168.0.1"));
        mobjSettings->Add("Remote Port", 1, kParameterRange, "0<1>2147483647", "")
            ->Value(-1, -1, Variant(int16_t{1000}));
    });
    GuardedSocketCall([&] {
        mfrmEthernet = std::make_unique<tcpip::frmWinsock>(mobjLoop);
        mfrmEthernet->DataArrival = [this](int32_t bytesTotal) { mfrmEthernet_DataArrival(bytesTotal); };
        mfrmEthernet->Error = [this](int16_t Number, std::string& Description, int32_t Scode,
                                     const std::string& Source, const std::string& HelpFile, int32_t HelpContext,
                                     bool& CancelDisplay) {
            mfrmEthernet_Error(Number, Description, Scode, Source, HelpFile, HelpContext, CancelDisplay);
        };
        mfrmEthernet->SendComplete = [this] { mfrmEthernet_SendComplete(); };
    });
    mintTimeOut = 1;
    mudtSocketError.Number = 0;
}

// Releasing the form closes the socket; nothing is raised.
clsEthernet::~clsEthernet() = default;

// ---------------------------------------------------------------- events

void clsEthernet::mfrmEthernet_DataArrival(int32_t) {
    if (!mblnReceiving) return;  // left with the socket for ReceiveB
    // One byte past the limit tells Receive that the reply is too long; the
    // rest stays with the socket, whose flow control then holds the peer.
    const auto most = static_cast<std::size_t>(mlngReplyLimit) + 1;
    if (mstrBuffer.size() < most) mfrmEthernet->Winsock.AppendTo(mstrBuffer, most - mstrBuffer.size());
}

void clsEthernet::ReplyLimit(int32_t bytes) {
    mlngReplyLimit = WithGeneralHandler("clsEthernet.ReplyLimit", [&] { return CheckedReplyLimit(bytes); });
}

void clsEthernet::mfrmEthernet_Error(int16_t Number, std::string& Description, int32_t Scode,
                                     const std::string& Source, const std::string& HelpFile, int32_t HelpContext,
                                     bool& CancelDisplay) {
    CancelDisplay = true;
    mudtSocketError = {Number, Description, Scode, Source, HelpFile, HelpContext};
}

void clsEthernet::mfrmEthernet_SendComplete() { mblnSendComplete = true; }

// ---------------------------------------------------------------- setup

std::string clsEthernet::StateString() {
    const int32_t state = mfrmEthernet->State();
    return state >= 0 && state < static_cast<int32_t>(std::size(kStateTexts)) ? kStateTexts[state] : "";
}

bool clsEthernet::IPortSetup_OnLine() { return mfrmEthernet->State() == tcpip::kStateConnected; }

int32_t clsEthernet::WaitForState(int32_t wanted) {
    clsTimeout timer;
    WithGeneralHandler(kOnlineSource, [&] { timer.Start(kConnectionWait); });
    WaitYield wait(*mobjLoop, timer, CurrentHostControl());
    int32_t state = mfrmEthernet->State();
    for (;;) {
        // Once the state is reached the loop ends, so its yield need not
        // sleep; the state is read again after it, which may have delivered
        // the peer's close.
        GuardedSocketCall([&] { state = mfrmEthernet->State(); },
                          [&] { state == wanted ? static_cast<void>(mobjLoop->Look()) : wait(); });
        state = mfrmEthernet->State();
        const bool running = WithGeneralHandler(kOnlineSource, [&] { return timer.State() == tmoRunning; });
        // A peer that closed (8) will never let the state reach "connected".
        if (!running || state == wanted || state == tcpip::kStatePeerClosing) return state;
    }
}

void clsEthernet::IPortSetup_OnLine(bool blnData) {
    if (!blnData) {
        mstrBuffer = std::string();
        GuardedSocketCall([&] { mfrmEthernet->Disconnect(); });
        if (WaitForState(tcpip::kStateClosed) == tcpip::kStateClosed) return;
        RaiseTimeOut(kOnLineTimeOutSource, "Go off-line timed out after ", Variant(kConnectionWait));
    }
    WithGeneralHandler(kOnlineSource, [&] {
        mstrRemoteHost = mobjSettings->Item("Remote Host")->Value(-1, -1).ToString();
        mlngRemotePort = mobjSettings->Item("Remote Port")->Value(-1, -1).ToLong();
    });
    GuardedSocketCall([&] {
        mfrmEthernet->RemoteHost(Variant(mstrRemoteHost));
        mfrmEthernet->RemotePort(Variant(mlngRemotePort));
        mfrmEthernet->Connect();
    });
    const int32_t reached = WaitForState(tcpip::kStateConnected);
    if (reached == tcpip::kStateConnected) return;
    GuardedSocketCall([&] { mfrmEthernet->Disconnect(); });
    if (reached == tcpip::kStatePeerClosing)
        RaiseError(kSocketConnectionReset, kSocketSource,
                   "The connection to " + mstrRemoteHost + ":" + std::to_string(mlngRemotePort) +
                       " was closed by the instrument as soon as it was made");
    RaiseTimeOut(kOnLineTimeOutSource, "Go on-line timed out after ", Variant(kConnectionWait));
}

// ---------------------------------------------------------------- text

void clsEthernet::IPort_TimeOut(float sngData) {
    mintTimeOut = WithGeneralHandler(kTimeOutSource, [&] { return Variant(sngData).ToInteger(); });
}

bool clsEthernet::WaitForSendComplete(const char* source) {
    clsTimeout timer;
    HostControl& host = CurrentHostControl();
    WithGeneralHandler(source, [&] {
        timer.Start(mintTimeOut);
        WaitYield yield(*mobjLoop, timer, host);
        for (;;) {
            yield();
            const bool done = timer.State() != tmoRunning || mblnSendComplete;
            if (done || RunStateStops(host.RunState())) break;
        }
    });
    return mblnSendComplete;
}

void clsEthernet::IPort_Send(std::string_view sCommand) {
    mblnSendComplete = false;
    GuardedSocketCall([&] { mfrmEthernet->SendData(Variant(std::string(sCommand) + '\n')); });
    if (WaitForSendComplete(kSendSource)) {
        mintStatus = kStatusComplete;
        mlngCount = static_cast<int32_t>(sCommand.size());
        WithGeneralHandler(kSendSource, [this] { mobjLoop->Yield(); });
        return;
    }
    mintStatus = kStatusSendTimedOut;
    mlngCount = 0;
    RaiseTimeOut(kSendSource, "Send timed out after ", Variant(mintTimeOut));
}

std::string clsEthernet::IPort_Receive(const Variant& sCommand) {
    mstrBuffer.clear();
    // Room for a typical reply now, before the command goes, rather than on
    // the way from its arrival to the caller.
    mstrBuffer.reserve(kTypicalReplyBytes);
    mblnReceiving = true;
    if (!sCommand.IsMissing()) {
        const std::string command = WithGeneralHandler(kReceiveSource, [&] { return sCommand.ToString(); });
        IPort_Send(command);
    }

    clsTimeout timer;
    HostControl& host = CurrentHostControl();
    const auto limit = static_cast<std::size_t>(mlngReplyLimit);
    WithGeneralHandler(kReceiveSource, [&] {
        timer.Start(mintTimeOut);
        WaitYield yield(*mobjLoop, timer, host);
        for (;;) {
            yield();
            // Only the end counts: a CR LF inside the text, or a reply with
            // more text behind it in the same arrival, does not end the wait.
            if (EndsWithLineEnd(mstrBuffer) || mstrBuffer.size() > limit) break;
            const bool expired = timer.State() == tmoExpired;
            if (expired || RunStateStops(host.RunState())) break;
        }
    });
    // What was collected is handed over or dropped here; its memory goes
    // with it rather than staying with the object until the next Receive.
    std::string collected = std::exchange(mstrBuffer, std::string());
    if (collected.size() > limit) RaiseReplyTooLong(kReceiveSource, mlngReplyLimit);

    if (WithGeneralHandler(kReceiveSource, [&] { return host.StopRequested(); })) return {};

    if (!collected.empty()) {
        if (EndsWithLineEnd(collected)) {
            mintStatus = kStatusComplete;
            collected.resize(collected.size() - 2);
            mlngCount = static_cast<int32_t>(collected.size());
            WithGeneralHandler(kReceiveSource, [this] { mobjLoop->Yield(); });
            return collected;
        }
        mintStatus = kStatusReceiveTimedOut;
        mlngCount = static_cast<int32_t>(collected.size());
        mintError = kErrorAborted;
        RaiseTimeOut(kReceiveSource, "Receive timed out after ", Variant(mintTimeOut));
    }
    if (WithGeneralHandler(kReceiveSource, [&] { return timer.State() != tmoExpired; })) {
        // The host's run state ended the wait before anything came.
        WithGeneralHandler(kReceiveSource, [this] { mobjLoop->Yield(); });
        return {};
    }
    mintStatus = kStatusReceiveTimedOut;
    mlngCount = 0;
    mintError = kErrorAborted;
    RaiseTimeOut(kReceiveSource, "Receive timed out after ", Variant(mintTimeOut));
}

void clsEthernet::IPort_SendE(std::string_view strCommand, Variant* vntReturn) {
    CheckedSend(*this, kSendESource, strCommand, vntReturn);
}

// ---------------------------------------------------------------- blocks

void clsEthernet::IPortB_SendB(bool blnLastBlock, const Variant& vntData, std::string_view strCommand) {
    mblnSendComplete = false;
    GuardedSocketCall([&] {
        if (!strCommand.empty()) mfrmEthernet->SendData(Variant(strCommand));
        mfrmEthernet->SendData(vntData);
        if (blnLastBlock) mfrmEthernet->SendData(Variant("\n"));
    });
    if (WaitForSendComplete(kSendBSource)) {
        WithGeneralHandler(kSendBSource, [&] {
            mintStatus = kStatusComplete;
            mlngCount = BlockCount(vntData.AsBytes(), strCommand.size() + (blnLastBlock ? 1 : 0));
            mobjLoop->Yield();
        });
        return;
    }
    mintStatus = kStatusSendTimedOut;
    mlngCount = 0;
    RaiseTimeOut(kSendBSource, "Send timed out after ", Variant(mintTimeOut));
}

Variant clsEthernet::IPortB_ReceiveB(int16_t intCount, const Variant& vntCommand) {
    Variant result{std::string()};
    mblnReceiving = false;  // arrivals stay with the socket, to be read here
    tcpip::SocketControl* control = &mfrmEthernet->Winsock;
    std::vector<uint8_t> block = WithGeneralHandler(kReceiveBSource, [&] {
        if (intCount < 1) RaiseRuntimeError(kErrSubscriptOutOfRange);
        return std::vector<uint8_t>(static_cast<std::size_t>(intCount));
    });
    std::size_t received = 0;

    if (!vntCommand.IsMissing()) {
        // Whatever waits now belongs to an earlier exchange, not to this command.
        if (control->BytesReceived() > 0) {
            Variant stale;
            control->GetData(stale, Variant(int16_t{tcpip::kDataBytes}), Variant(control->BytesReceived()));
        }
        const std::string command = WithGeneralHandler(kReceiveBSource, [&] { return vntCommand.ToString(); });
        IPort_Send(command);
    }

    clsTimeout timer;
    HostControl& host = CurrentHostControl();
    bool expired = false;
    WithGeneralHandler(kReceiveBSource, [&] { timer.Start(mintTimeOut); });
    WaitYield yield(*mobjLoop, timer, host);
    for (;;) {
        WithGeneralHandler(kReceiveBSource, [&] { yield(); });
        UnderSocket([&] { received += control->Take(std::span(block).subspan(received)); });
        if (received == block.size()) break;
        const bool stop = WithGeneralHandler(kReceiveBSource, [&] {
            expired = timer.State() == tmoExpired;
            return RunStateStops(host.RunState());
        });
        if (stop || expired) break;
    }

    if (WithGeneralHandler(kReceiveBSource, [&] { return host.StopRequested(); })) return Variant(std::string());

    if (received == block.size()) {
        mintStatus = kStatusComplete;
        result = Variant::Bytes(std::move(block));
        mlngCount = intCount;
    } else if (expired) {
        mintStatus = kStatusReceiveTimedOut;
        mlngCount = 0;
        mintError = kErrorAborted;
        RaiseTimeOut(kReceiveBSource, "Receive timed out after ", Variant(mintTimeOut));
    }
    WithGeneralHandler(kReceiveBSource, [this] { mobjLoop->Yield(); });
    return result;
}

}  // namespace tessel
