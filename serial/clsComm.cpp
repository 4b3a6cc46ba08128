#include <tessel/comm.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include <tessel/error.h>
#include <tessel/events.h>
#include <tessel/host.h>
#include <tessel/timeout.h>

#include "ports/checked_send.h"
#include "ports/event_loop.h"
#include "ports/handlers.h"
#include "ports/parameters/list_settings.h"
#include "ports/wait.h"
#include "serial/comm_control.h"
#include "serial/comm_errors.h"

namespace tessel {
namespace {

constexpr const char* kControlSource = "MSComm";
constexpr const char* kSendSource = "clsComm.IPort_Send";
constexpr const char* kReceiveSource = "clsComm.IPort_Receive";
constexpr const char* kSendBSource = "clsComm.IPortB_SendB";
constexpr const char* kReceiveBSource = "clsComm.IPortB_ReceiveB";

constexpr const char* kLineEnd = "\r\n";
constexpr float kSendWaitLimit = 4.0f;

std::string ReceiveTimeoutText(float timeOut) { return TimedOutAfter("Receive timed out after ", Variant(timeOut)); }

bool IsLineFeedEnded(const std::string& s) { return !s.empty() && s.back() == '\n'; }

}  // namespace

template <class F>
decltype(auto) clsComm::UnderControl(F&& fn) {
    return WithTransportHandler(
        kControlSource,
        [this](const ComError& e) { return GetMsCommErrorDescription(Variant(e.Number).ToInteger()); },
        std::forward<F>(fn));
}

clsComm::clsComm() : mobjLoop(EventLoop::Current()) {
    WithGeneralHandler("clsComm.Class_Initialize", [&] {
        mobjSettings = CreateListSettings("RS232", {
            {"Comm Port", "COM1=1,COM2=2", Variant(int16_t{1})},
            {"Baud Rate",
             "110=110,300=300,"
             "600=600,1200=1200,2400=2400,4800=4800,9600=9600,"
             "14400=14400,19200=19200,28800=28800,38400=38400,"
             "56000=56000,57600=57600,115200=115200,128000=128000,"
             "256000=256000",
             Variant("9600")},
            {"Parity", "EVEN=E,MARK=M,NONE=N,ODD=O,SPACE=S", Variant("NONE")},
            {"Data Bits", "4=4,5=5,6=6,7=7,8=8", Variant("8")},
            {"Stop Bits", "1=1,1.5=1.5,2=2", Variant("1")},
            {"Handshaking", "None=0,XOn/XOff=1,RTS/CTS=2,RTS/XOn/XOff=3", Variant("RTS/CTS")},
        });
    });
    UnderControl([&] {
        mobjComm = std::make_unique<serial::CommControl>(mobjLoop);
        mobjComm->OnComm = [this] { OnComm(); };
    });
    msngTimeOut = 1.0f;
}

clsComm::~clsComm() {
    // A destructor cannot raise; closing our own descriptor cannot fail in a
    // way the releasing host could act on, so nothing is lost here.
    try {
        UnderControl([&] {
            if (mobjComm->PortOpen()) mobjComm->PortOpen(false);
        });
    } catch (const ComError&) {
    }
}

std::string clsComm::GetMsCommErrorDescription(int16_t intCode) { return serial::CommErrorText(intCode); }

void clsComm::OnComm() {
    // Reception is polled by the transfer members; the event is only read.
    (void)mobjComm->CommEvent();
}

// ---------------------------------------------------------------- setup

void clsComm::IPortSetup_OnLine(bool blnData) {
    if (!blnData) {
        UnderControl([&] {
            if (mobjComm->PortOpen()) mobjComm->PortOpen(false);
        });
        return;
    }
    struct {
        std::string baud, parity, dataBits, stopBits;
        int16_t handshaking = 0;
    } line;
    WithGeneralHandler("clsComm.IPortSetup_Online", [&] {
        auto value = [&](const char* name) { return mobjSettings->Item(name)->Value(-1, -1); };
        mintPort = value("Comm Port").ToInteger();
        line.baud = value("Baud Rate").ToString();
        line.parity = value("Parity").ToString();
        line.dataBits = value("Data Bits").ToString();
        line.stopBits = value("Stop Bits").ToString();
        line.handshaking = value("Handshaking").ToInteger();
    });
    UnderControl([&] {
        mobjComm->CommPort(mintPort);
        mobjComm->Settings(line.baud + "," + line.parity + "," + line.dataBits + "," + line.stopBits);
        mobjComm->Handshaking(line.handshaking);
        mobjComm->InputLen(0);
        mobjComm->PortOpen(true);
    });
}

bool clsComm::IPortSetup_OnLine() {
    return UnderControl([&] { return mobjComm->PortOpen(); });
}

// ---------------------------------------------------------------- text

void clsComm::IPort_TimeOut(float sngData) {
    // A timer cannot run for NaN or infinite seconds; NaN would wait forever.
    if (!std::isfinite(sngData)) RaiseError(kErrOverflow, "clsComm.IPort_TimeOut", RuntimeErrorText(kErrOverflow));
    msngTimeOut = sngData;
}

void clsComm::ReplyLimit(int32_t bytes) {
    mlngReplyLimit = WithGeneralHandler("clsComm.ReplyLimit", [&] { return CheckedReplyLimit(bytes); });
}

bool clsComm::OutputStillPending() {
    clsTimeout timer;
    timer.Start(msngTimeOut > kSendWaitLimit ? kSendWaitLimit : msngTimeOut);
    HostControl& host = CurrentHostControl();
    WaitYield yield(*mobjLoop, timer, host);
    for (;;) {
        const double drain = mobjComm->SecondsUntilDeviceDrained();
        yield(drain > 0.0 ? drain : WaitYield::kNoHint);
        if (mobjComm->OutBufferCount() == 0) return false;
        const bool expired = timer.State() == tmoExpired;
        if (expired || RunStateStops(host.RunState())) return true;
    }
}

void clsComm::IPort_Send(std::string_view strCommand) {
    const bool pending = UnderControl([&] {
        mobjComm->Output(Variant(std::string(strCommand) + kLineEnd));
        return OutputStillPending();
    });
    if (pending) RaiseTimedOut(kSendSource, "Send timed out");
    mintStatus = kStatusComplete;
    mlngCount = static_cast<int32_t>(strCommand.size());
    WithGeneralHandler(kSendSource, [this] { mobjLoop->Yield(); });
}

std::string clsComm::IPort_Receive(const Variant& strCommand) {
    std::string collected;
    if (!strCommand.IsMissing()) {
        UnderControl([&] { mobjComm->InBufferCount(0); });
        const std::string command = WithGeneralHandler(kReceiveSource, [&] { return strCommand.ToString(); });
        IPort_Send(command);
    }

    clsTimeout timer;
    HostControl& host = CurrentHostControl();
    WithGeneralHandler(kReceiveSource, [&] { timer.Start(msngTimeOut); });
    WaitYield yield(*mobjLoop, timer, host);
    bool tooLong = false;
    for (;;) {
        yield();
        // Everything already here is taken before the next sleep: InputLen,
        // which ReceiveB leaves at its last take, limits one read, not a pass.
        UnderControl([&] {
            while (!IsLineFeedEnded(collected) && !tooLong && mobjComm->InBufferCount() != 0) {
                collected += mobjComm->Input().ToString();
                tooLong = collected.size() > static_cast<std::size_t>(mlngReplyLimit);
            }
        });
        if (tooLong) {
            collected = std::string();
            RaiseReplyTooLong(kReceiveSource, mlngReplyLimit);
        }
        if (IsLineFeedEnded(collected)) break;
        const bool stop = WithGeneralHandler(kReceiveSource, [&] {
            const bool expired = timer.State() == tmoExpired;
            return expired || RunStateStops(host.RunState());
        });
        if (stop) break;
    }

    if (WithGeneralHandler(kReceiveSource, [&] { return host.StopRequested(); })) return {};

    if (IsLineFeedEnded(collected)) {
        mintStatus = kStatusComplete;
        while (!collected.empty() && (collected.back() == '\r' || collected.back() == '\n')) collected.pop_back();
        mlngCount = static_cast<int32_t>(collected.size());
    } else if (!collected.empty() || timer.State() == tmoExpired) {
        mintStatus = kStatusReceiveTimedOut;
        mlngCount = static_cast<int32_t>(collected.size());
        mintError = kErrorAborted;
        RaiseTimedOut(kReceiveSource, ReceiveTimeoutText(msngTimeOut));
    } else {
        return {};  // the host's run state ended the wait before anything came
    }
    WithGeneralHandler(kReceiveSource, [this] { mobjLoop->Yield(); });
    return collected;
}

void clsComm::IPort_SendE(std::string_view strCommand, Variant* vntReturn) {
    CheckedSend(*this, "clsComm.IPort_SendE", strCommand, vntReturn);
}

// ---------------------------------------------------------------- blocks

Variant clsComm::IPortB_ReceiveB(int16_t intCount, const Variant& vntCommand) {
    std::vector<uint8_t> buffer = WithGeneralHandler(kReceiveBSource, [&] {
        if (intCount < 1) RaiseRuntimeError(kErrSubscriptOutOfRange);
        return std::vector<uint8_t>(static_cast<std::size_t>(intCount));
    });
    std::size_t received = 0;

    if (!vntCommand.IsMissing()) {
        UnderControl([&] { mobjComm->InBufferCount(0); });
        const std::string command = WithGeneralHandler(kReceiveBSource, [&] { return vntCommand.ToString(); });
        IPort_Send(command);
    }

    // From here on every way out leaves the control in text mode again.
    auto backToText = [&] { mobjComm->InputMode(serial::comInputModeText); };
    clsTimeout timer;
    HostControl& host = CurrentHostControl();
    WithGeneralHandler(kReceiveBSource, [&] {
        mobjComm->InputMode(serial::comInputModeBinary);
        timer.Start(msngTimeOut);
    });
    try {
        WaitYield yield(*mobjLoop, timer, host);
        for (;;) {
            yield();
            UnderControl([&] {
                for (int16_t waiting = 0; received < buffer.size() && (waiting = mobjComm->InBufferCount()) > 0;) {
                    const auto take = std::min<std::size_t>(buffer.size() - received, static_cast<std::size_t>(waiting));
                    mobjComm->InputLen(static_cast<int16_t>(take));
                    const Variant input = mobjComm->Input();
                    const auto& bytes = input.AsBytes().bytes;
                    std::copy(bytes.begin(), bytes.end(), buffer.begin() + static_cast<std::ptrdiff_t>(received));
                    received += bytes.size();
                }
            });
            if (received == buffer.size()) break;
            const bool stop = WithGeneralHandler(kReceiveBSource, [&] {
                const bool expired = timer.State() == tmoExpired;
                return expired || RunStateStops(host.RunState());
            });
            if (stop) break;
        }
    } catch (...) {
        backToText();
        throw;
    }
    WithGeneralHandler(kReceiveBSource, backToText);

    if (WithGeneralHandler(kReceiveBSource, [&] { return host.StopRequested(); })) return Variant(std::string());

    if (received == buffer.size()) {
        mintStatus = kStatusComplete;
        mlngCount = intCount;
        WithGeneralHandler(kReceiveBSource, [this] { mobjLoop->Yield(); });
        return Variant::Bytes(std::move(buffer));
    }
    if (timer.State() == tmoExpired) {
        mintStatus = kStatusReceiveTimedOut;
        mlngCount = 0;
        mintError = kErrorAborted;
        RaiseTimedOut(kReceiveBSource, ReceiveTimeoutText(msngTimeOut));
    }
    WithGeneralHandler(kReceiveBSource, [this] { mobjLoop->Yield(); });
    return Variant(std::string());  // the host's run state ended the wait
}

void clsComm::IPortB_SendB(bool blnLastBlock, const Variant& vntData, std::string_view strCommand) {
    const bool pending = UnderControl([&] {
        if (!strCommand.empty()) mobjComm->Output(Variant(strCommand));
        mobjComm->Output(vntData);
        if (blnLastBlock) mobjComm->Output(Variant(kLineEnd));
        return OutputStillPending();
    });
    if (pending) RaiseTimedOut(kSendBSource, "Send timed out");
    WithGeneralHandler(kSendBSource, [&] {
        mintStatus = kStatusComplete;
        mlngCount = BlockCount(vntData.AsBytes(), strCommand.size() + (blnLastBlock ? 2 : 0));
        mobjLoop->Yield();
    });
}

// ---------------------------------------------------------------- direct

void clsComm::IPortDirect_Send(std::string_view strCommand) {
    UnderControl([&] { mobjComm->Output(Variant(strCommand)); });
    mintStatus = kStatusComplete;
    mlngCount = static_cast<int32_t>(strCommand.size());
}

Variant clsComm::IPortDirect_ReceiveV() {
    WithGeneralHandler("clsComm.IPortDirect_ReceiveV", [this] { mobjLoop->Yield(); });
    Variant result = UnderControl([&] {
        return mobjComm->InBufferCount() != 0 ? mobjComm->Input() : Variant(std::string());
    });
    WithGeneralHandler("clsComm.IPortDirect_ReceiveV", [&] {
        mintStatus = kStatusComplete;
        mlngCount = static_cast<int32_t>(result.ToString().size());
    });
    return result;
}

std::string clsComm::IPortDirect_Receive() {
    return WithGeneralHandler("clsComm.IPortDirect_Receive", [&] {
        std::string text = IPortDirect_ReceiveV().ToString();
        mintStatus = kStatusComplete;
        mlngCount = static_cast<int32_t>(text.size());
        return text;
    });
}

}  // namespace tessel
