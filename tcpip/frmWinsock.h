// frmWinsock: the hidden host of one socket control, the fixed surface the
// TCP/IP driver works through.
//
// The form keeps no data of its own: every property reads or writes straight
// through to its control `Winsock`, every method calls the control, and every
// event of the control comes out unchanged as an event of the form, with
// Description and CancelDisplay by reference so that what the owner writes
// into them reaches the control. The owner may also use `Winsock` directly.
//
// Nothing here catches an error: a refusal of the control reaches the caller
// of the form's member as the control raised it.
//
// Events are std::function members that the owner assigns; one left empty is
// raised with no one listening. They run only while the thread yields.
//
// HeartBeat belongs to a heartbeat timer that nothing ever enabled; the form
// has no such timer, so the event is declared for owners but never comes.
//
// Threads: the form belongs to the thread whose loop it was created on.
// Destroying it closes the socket.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <tessel/variant.h>

#include "ports/event_loop.h"
#include "tcpip/socket_control.h"

namespace tessel::tcpip {

class frmWinsock {
public:
    explicit frmWinsock(std::shared_ptr<EventLoop> loop);
    frmWinsock(const frmWinsock&) = delete;
    frmWinsock& operator=(const frmWinsock&) = delete;

    // The control's state, widened.
    int32_t State();
    Variant RemoteHost();
    void RemoteHost(const Variant& vNewValue);
    Variant RemotePort();
    void RemotePort(const Variant& vNewValue);
    // Connects to the RemoteHost and RemotePort stored before.
    void Connect();
    void Disconnect();
    void SendData(const Variant& vNewData);
    // Without nType the control gets vNewData alone (lMaxLen is then
    // ignored); with nType, nType and lMaxLen when that is given too.
    void GetData(Variant& vNewData, const Variant& nType = Variant::Missing(),
                 const Variant& lMaxLen = Variant::Missing());

    // ---- events, in the order they are declared ----
    std::function<void()> Closed;
    std::function<void()> Connected;
    // A listening socket's; this control only connects, so it never comes.
    std::function<void(int32_t requestID)> ConnectionRequest;
    std::function<void(int32_t bytesTotal)> DataArrival;
    std::function<void(int16_t Number, std::string& Description, int32_t Scode, const std::string& Source,
                       const std::string& HelpFile, int32_t HelpContext, bool& CancelDisplay)>
        Error;
    std::function<void()> SendComplete;
    std::function<void(int32_t bytesSent, int32_t bytesRemaining)> SendProgress;
    std::function<void()> HeartBeat;

    SocketControl Winsock;
};

}  // namespace tessel::tcpip
