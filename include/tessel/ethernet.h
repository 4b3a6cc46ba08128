// clsEthernet: an instrument reached over a TCP connection, a LAN instrument
// with a raw socket port (examples/tcp_query.cpp):
//
//   auto eth = std::make_shared<tessel::clsEthernet>();   // or CreateObject("Tessel.clsEthernet")
//   eth->Settings()->Item("Remote Host")->Value(-1, -1, host);
//   eth->Settings()->Item("Remote Port")->Value(-1, -1, port);
//   eth->OnLine(true);
//   std::string id = eth->Receive("*IDN?");
//
// The class implements IPort, IPortB and IPortSetup (<tessel/port.h>). Its
// own members IPort_Send, IPort_Receive, IPortSetup_OnLine, ... and
// StateString are what a late-bound host reaches by name; Status, SendE,
// Settings, SendB and ReceiveB are reached through the interfaces only.
//
// Settings (root "TCP/IP"), read afresh at every OnLine(true):
//   "Remote Host"  free text                       default "192.168.0.1"
//                  a host name or a dotted address
//   "Remote Port"  number, "0<1>2147483647"         default 1000
//                  only 1 to 65535 can be connected to; anything else is
//                  refused when going on-line (kSocketInvalidArgument)
//
// On-line: OnLine(true) connects and waits at most 5 seconds, whatever
// TimeOut is. A refusal, an unreachable host or an unknown name fails as soon
// as the socket reports it, with the socket's number and source "Winsock"
// (e.g. 10061 when nothing listens on the port); a host that neither answers
// nor refuses fails after 5 s with kObjectErrorBase + 2015 "Go on-line timed
// out after 5 seconds", source "clsEthernet.IPortSetup_OnLine", and the
// socket is closed. An instrument that closes the connection as soon as it
// accepts it fails OnLine(true) at once with 10054 (source "Winsock"), and
// the socket is closed. OnLine(true) while connected, or after the instrument
// closed the connection, is refused by the socket (kSocketWrongState): go
// off-line first. OnLine(false) closes the connection; reading OnLine is
// true exactly while the socket is connected (StateString() == "Connected").
// When the instrument closes the connection, OnLine reads false and
// StateString says "Peer is closing the connection"; what it sent before
// closing can still be read.
//
// Framing: Send writes the command and LF; Receive returns text whose last
// two characters were CR LF, without them (a CR LF inside the reply is kept;
// a reply ending in a lone LF is not complete and times out). SendB writes an
// optional command with no terminator, the block's bytes, and LF when it is
// the last block; the block must be a byte array (text is sent, then fails
// the count with 13 "Type mismatch"; anything else is refused by the socket).
// ReceiveB reads exactly the bytes asked for, with no framing.
// Text travels one byte per character.
//
// Waiting: Send and SendB wait until the socket has taken the data, Receive
// and ReceiveB until the reply is complete, each at most TimeOut seconds.
// TimeOut is held in whole seconds: a written value is rounded half to even
// (2.5 reads back 2, 3.5 reads back 4); a value that does not round into
// -32768..32767 is refused with 6 "Overflow". 1 at creation. A time-out
// raises kObjectErrorBase + 2015 ("Send timed out after <TimeOut> seconds",
// "Receive timed out after <TimeOut> seconds") and leaves Status 0xC000
// (49152) for a send, or Status 0x8500 (34048) with Error 6 for a receive;
// Count is then the characters received by Receive, 0 otherwise. Success
// leaves Status 0x100 (256) and Count: the command's length for Send (LF not
// counted), the reply's for Receive, command + block + LF for SendB, the
// count asked for ReceiveB. Error is never reset: it stays 6 after later
// successes.
//
// Stops: a host run state with bit 1 or 8 ends a wait at once: a send without
// its completion then fails as timed out; a receive with nothing received
// returns empty text quietly and changes nothing (a partial reply still
// fails as timed out). A stop request makes Receive, ReceiveB and SendE
// return empty quietly. The on-line wait does not watch the run state.
//
// Received text is collected for Receive from the moment a Receive starts
// until the next one starts, which throws away what was left; at most
// ReplyLimit() + 1 bytes are held for it, and its memory is given back when
// a Receive ends and at OnLine(false). ReceiveB reads
// straight from the socket, and bytes it leaves there are taken by the next
// read of any kind. ReceiveB with a command first throws away the bytes
// waiting with the socket.
//
// Errors:
//   * the socket's, source "Winsock", description naming host and port:
//     numbers are the classic socket numbers (10000 + the BSD errno value, or
//     11001..11004 for name look-ups), see SocketError below; a failure that
//     happens while no member waits (the instrument resets the connection
//     between two calls) is recorded and dropped by the next call that
//     touches the socket, never reported late;
//   * time-outs as above, raised with exactly the text shown;
//   * other failures (a settings value that is not a number, a ReceiveB count
//     below 1) with the member's source: "clsEthernet.IPortSetup_Online"
//     (lower-case l) for going on-line, "clsEthernet.IPort_Receive", ...;
//   * SendE's own errors with source "clsEthernet.IPort_SendE" (<tessel/port.h>).
//
// Threads: create, use and release a clsEthernet on one thread; socket events
// are delivered while that thread waits in a member or runs DoEvents.
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
namespace tcpip {
class frmWinsock;
}

// Numbers of the socket's errors (source "Winsock"). They do not change
// between releases; docs/tcpip.md says when each occurs.
enum SocketError : int16_t {
    kSocketPermissionDenied = 10013,       // the system forbids this connection
    kSocketInvalidSystemArgument = 10022,  // the system refused an argument
    kSocketTooManyOpenFiles = 10024,
    kSocketAddressFamily = 10047,          // address family not supported
    kSocketAddressInUse = 10048,
    kSocketAddressNotAvailable = 10049,    // e.g. connecting to 0.0.0.0
    kSocketNetworkDown = 10050,
    kSocketNetworkUnreachable = 10051,
    kSocketNetworkReset = 10052,
    kSocketConnectionAborted = 10053,      // this machine dropped the connection
    kSocketConnectionReset = 10054,        // the peer reset the connection
    kSocketNoBufferSpace = 10055,
    kSocketAlreadyConnected = 10056,
    kSocketNotConnected = 10057,
    kSocketShutDown = 10058,               // sending on a connection that is gone
    kSocketTimedOut = 10060,               // the system gave up connecting
    kSocketConnectionRefused = 10061,      // nothing listens on that port
    kSocketHostDown = 10064,
    kSocketHostUnreachable = 10065,
    kSocketHostNotFound = 11001,           // no address is known for the name
    kSocketTryAgain = 11002,               // the name server did not answer
    kSocketNoRecovery = 11003,             // the name server failed
    kSocketNoData = 11004,                 // the name has no address of this kind
    // Refusals of the socket itself, raised at once by the member called.
    kSocketWrongState = 12001,             // e.g. connecting while connected
    kSocketInvalidArgument = 12002,        // e.g. a port outside 1..65535
    kSocketSystemFailure = 12003,          // any other failure of the system
};

class TESSEL_API clsEthernet final : public Object, public IPort, public IPortB, public IPortSetup {
public:
    clsEthernet();
    ~clsEthernet() override;
    clsEthernet(const clsEthernet&) = delete;
    clsEthernet& operator=(const clsEthernet&) = delete;

    // The socket's state in words: "Closed", "Resolving Host", "Connecting",
    // "Connected", "Peer is closing the connection", "Error", ...
    std::string StateString();

    void IPort_TimeOut(float sngData) override;
    TESSEL_API float IPort_TimeOut() override { return static_cast<float>(mintTimeOut); }
    void IPort_Send(std::string_view sCommand) override;
    std::string IPort_Receive(const Variant& sCommand) override;
    TESSEL_API int16_t IPort_Error() override { return mintError; }
    TESSEL_API int32_t IPort_Count() override { return mlngCount; }

    void IPortSetup_OnLine(bool blnData) override;
    bool IPortSetup_OnLine() override;
    TESSEL_API std::string IPortSetup_Name() override { return mstrName; }
    TESSEL_API void IPortSetup_Name(std::string_view strNewValue) override { mstrName = strNewValue; }
    // The most bytes one Receive collects (kDefaultReplyLimit, 16 MiB, at
    // creation). A reply that grows past it ends that Receive with
    // kObjectErrorBase + kErrReplyTooLong, "Reply longer than <limit> bytes",
    // source "clsEthernet.IPort_Receive"; what it had collected is dropped,
    // and the rest stays unread with the socket. A limit below 1 raises 5
    // "Invalid procedure call or argument" (source "clsEthernet.ReplyLimit").
    // Neither member blocks.
    TESSEL_API int32_t ReplyLimit() const { return mlngReplyLimit; }
    void ReplyLimit(int32_t bytes);

private:
    // Reached through the interfaces only.
    TESSEL_API uint16_t IPort_Status() override { return mintStatus; }
    void IPort_SendE(std::string_view strCommand, Variant* vntReturn) override;
    TESSEL_API std::shared_ptr<Parameter> IPortSetup_Settings() override { return mobjSettings; }
    Variant IPortB_ReceiveB(int16_t intCount, const Variant& vntCommand) override;
    void IPortB_SendB(bool blnLastBlock, const Variant& vntData, std::string_view strCommand) override;

    // The form's events that the driver handles; they only record.
    TESSEL_INTERNAL void mfrmEthernet_DataArrival(int32_t bytesTotal);
    TESSEL_INTERNAL void mfrmEthernet_Error(int16_t Number, std::string& Description, int32_t Scode,
                                            const std::string& Source, const std::string& HelpFile,
                                            int32_t HelpContext, bool& CancelDisplay);
    TESSEL_INTERNAL void mfrmEthernet_SendComplete();

    template <class Call, class Yield>
    TESSEL_INTERNAL decltype(auto) GuardedSocketCall(Call&& call, Yield&& yield);
    template <class Call>
    TESSEL_INTERNAL decltype(auto) GuardedSocketCall(Call&& call);
    // Waits for the socket state `wanted`; the state last read.
    TESSEL_INTERNAL int32_t WaitForState(int32_t wanted);
    // Waits for SendComplete, a time-out or a stop; true when it came.
    TESSEL_INTERNAL bool WaitForSendComplete(const char* source);

    struct SocketErrorRecord {
        int16_t Number = 0;
        std::string Description;
        int32_t Scode = 0;
        std::string Source;
        std::string HelpFile;
        int32_t HelpContext = 0;
    };

    std::shared_ptr<EventLoop> mobjLoop;  // outlives the form and its socket
    std::shared_ptr<Parameter> mobjSettings;
    std::string mstrRemoteHost;
    int32_t mlngRemotePort = 0;
    int16_t mintTimeOut = 1;
    int32_t mlngReplyLimit = kDefaultReplyLimit;
    std::string mstrBuffer;
    uint16_t mintStatus = 0;
    int32_t mlngCount = 0;
    int16_t mintError = 0;
    bool mblnSendComplete = false;
    SocketErrorRecord mudtSocketError;
    std::string mstrName;
    bool mblnReceiving = false;
    std::unique_ptr<tcpip::frmWinsock> mfrmEthernet;
};

}  // namespace tessel
