// clsComm: an instrument on an RS-232 serial port (examples/serial_class.cpp):
//
//   auto comm = std::make_shared<tessel::clsComm>();      // or CreateObject("Tessel.clsComm")
//   comm->Settings()->Item("Comm Port")->Value(-1, -1, 3);
//   comm->Settings()->Item("Baud Rate")->Value(-1, -1, "19200");
//   comm->OnLine(true);
//   tessel::IPort& port = *comm;                          // Receive is IPort's (IPortDirect has its own)
//   std::string id = port.Receive("*IDN?");
//
// Send and Receive belong to two interfaces with different meanings (IPort's
// add and strip the terminator, IPortDirect's move bytes as they are), so
// comm->Receive(...) is ambiguous: call them through an interface, or by
// their procedure names, which the class exposes as its own members
// (IPort_Receive, IPortDirect_Send, IPortSetup_OnLine, ...).
//
// Settings (root "RS232", every setting a list of choices):
//   "Comm Port"    COM1=1,COM2=2 (any number may be written)   default 1
//   "Baud Rate"    110 ... 256000                              default "9600"
//   "Parity"       EVEN=E,MARK=M,NONE=N,ODD=O,SPACE=S          default "NONE"
//   "Data Bits"    4 ... 8                                     default "8"
//   "Stop Bits"    1, 1.5, 2                                   default "1"
//   "Handshaking"  None=0,XOn/XOff=1,RTS/CTS=2,RTS/XOn/XOff=3  default "RTS/CTS"
// Port number n means /dev/ttyS<n-1> unless the host assigned another device
// to n (AssignSerialPort in <tessel/serial_ports.h>). The device is opened
// exclusively: no other program, and no other clsComm, can open it meanwhile.
//
// Framing: Send writes the command and CR LF; Receive collects input until it
// ends with LF and returns it without its trailing CRs and LFs; SendB writes
// an optional command, the bytes, and CR LF when it is the last block;
// ReceiveB reads exactly the bytes asked for; the direct members move
// characters exactly as given or found.
//
// Discarding: Receive and ReceiveB with a command first discard everything
// received before the command is sent (the driver's queue and the device's
// input); OnLine(true) discards what waited in the device, and OnLine(false)
// ends every read of the connection, so nothing from before it is delivered
// after it. Bytes an instrument is still sending after the command has gone
// cannot be told from the reply.
//
// Waiting: Send and SendB wait for the output to drain, at most min(TimeOut,
// 4 s); Receive and ReceiveB wait up to TimeOut (1 s at creation). A time-out
// raises kObjectErrorBase + 2015 ("Send timed out", or "Receive timed out
// after <TimeOut> seconds"); a receive time-out leaves Status 34048, Error 6
// and Count = the characters that had arrived (0 for ReceiveB). A host run
// state with bit 1 or 8 ends a wait at once: sends then fail as timed out,
// receives with nothing arrived return empty text quietly. A stop request
// makes Receive, ReceiveB and SendE return empty quietly.
//
// Errors: the serial control's failures carry source "MSComm", its number and
// GetMsCommErrorDescription(number), e.g. 8002 "Invalid Port Number" for a
// missing device, 8010 when another program holds the port or permission is
// denied (ComError::Detail says which, and names the group to join), 8005
// when the port is already open, 8015 for settings the device refuses, 8008
// for unusable data bits, 8018 for a closed port, 8020 when the device hangs
// up. Other failures carry the member's source ("clsComm.IPort_Receive",
// "clsComm.IPortSetup_Online" for going on-line, "clsComm.SendDirect" for the
// direct send).
//
// Threads: create, use and release a clsComm on one thread; serial events are
// delivered while that thread waits in a member or runs DoEvents.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <tessel/export.h>
#include <tessel/object.h>
#include <tessel/parameter.h>
#include <tessel/port.h>
#include <tessel/variant.h>

namespace tessel {

class EventLoop;
namespace serial {
class CommControl;
}

class TESSEL_API clsComm final : public Object, public IPort, public IPortB, public IPortDirect, public IPortSetup {
public:
    clsComm();
    ~clsComm() override;
    clsComm(const clsComm&) = delete;
    clsComm& operator=(const clsComm&) = delete;

    // The message for a serial-control error code; "Unrecognised error code"
    // for codes it does not know.
    std::string GetMsCommErrorDescription(int16_t intCode);
    void SendDirect(std::string_view strCommand) { IPortDirect_Send(strCommand); }
    std::string ReceiveDirect() { return IPortDirect_Receive(); }
    Variant ReceiveDirectV() { return IPortDirect_ReceiveV(); }

    // Seconds; a value that is not a number or is infinite raises 6 "Overflow"
    // (source "clsComm.IPort_TimeOut") and keeps the old one.
    void IPort_TimeOut(float sngData) override;
    TESSEL_API float IPort_TimeOut() override { return msngTimeOut; }
    TESSEL_API uint16_t IPort_Status() override { return mintStatus; }
    void IPort_Send(std::string_view strCommand) override;
    std::string IPort_Receive(const Variant& strCommand) override;
    TESSEL_API int16_t IPort_Error() override { return mintError; }
    TESSEL_API int32_t IPort_Count() override { return mlngCount; }

    Variant IPortB_ReceiveB(int16_t intCount, const Variant& vntCommand) override;
    void IPortB_SendB(bool blnLastBlock, const Variant& vntData, std::string_view strCommand) override;

    std::string IPortDirect_Receive() override;
    Variant IPortDirect_ReceiveV() override;
    void IPortDirect_Send(std::string_view strCommand) override;

    void IPortSetup_OnLine(bool blnData) override;
    bool IPortSetup_OnLine() override;
    TESSEL_API std::string IPortSetup_Name() override { return mstrName; }
    TESSEL_API void IPortSetup_Name(std::string_view strNewValue) override { mstrName = strNewValue; }
    // The most bytes one Receive collects (kDefaultReplyLimit, 16 MiB, at
    // creation). A reply that grows past it ends that Receive with
    // kObjectErrorBase + kErrReplyTooLong, "Reply longer than <limit> bytes",
    // source "clsComm.IPort_Receive", and what it had collected is dropped.
    // A limit below 1 raises 5 "Invalid procedure call or argument" (source
    // "clsComm.ReplyLimit"). Neither member blocks.
    TESSEL_API int32_t ReplyLimit() const { return mlngReplyLimit; }
    void ReplyLimit(int32_t bytes);

private:
    // Reached through IPort and IPortSetup only.
    void IPort_SendE(std::string_view strCommand, Variant* vntReturn) override;
    TESSEL_API std::shared_ptr<Parameter> IPortSetup_Settings() override { return mobjSettings; }

    template <class F>
    TESSEL_INTERNAL decltype(auto) UnderControl(F&& fn);
    // Waits for the output to drain; true when it is still pending.
    TESSEL_INTERNAL bool OutputStillPending();
    TESSEL_INTERNAL void OnComm();

    std::shared_ptr<EventLoop> mobjLoop;
    std::shared_ptr<Parameter> mobjSettings;
    float msngTimeOut = 1.0f;
    int32_t mlngReplyLimit = kDefaultReplyLimit;
    uint16_t mintStatus = 0;
    int32_t mlngCount = 0;
    int16_t mintError = 0;
    int16_t mintPort = 0;
    std::string mstrName;
    std::unique_ptr<serial::CommControl> mobjComm;
};

}  // namespace tessel
