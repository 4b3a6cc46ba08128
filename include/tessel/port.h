// The port interfaces: one way to talk to an instrument whatever the transport.
//
//   IPort        text messages: Send adds the transport's terminator, Receive
//                waits for a reply and returns it without its terminator,
//                SendE sends and checks the instrument's event status.
//   IPortB       binary blocks.
//   IPortDirect  raw bytes, no terminators, no waiting (serial only).
//   IPortSetup   name, settings and on-line state.
//
// Which classes implement which:
//
//   clsComm      IPort IPortB IPortDirect IPortSetup
//   clsEthernet  IPort IPortB             IPortSetup
//   clsGPIB      IPort IPortB             IPortSetup
//
// Every member completes before it returns; members that wait sleep in the
// thread's message loop (<tessel/events.h>) and end early when the host's run
// state asks them to (<tessel/host.h>). Failures are raised as ComError; after
// a failure Status, Count and Error keep what the failing member wrote.
//
// Status words: 256 after a successful transfer; 34048 (0x8500) after a
// receive time-out, with Error 6; 49152 (0xC000) after a TCP/IP send time-out.
//
// Two interfaces may share a member name with different meanings
// (IPort::Send adds a terminator, IPortDirect::Send does not). So each
// interface forwards its members to procedures of its own name
// (IPort_Send, IPortDirect_Send) which a class implements separately.
//
// Threads: call an object's members only on the thread that created it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <tessel/export.h>
#include <tessel/variant.h>

namespace tessel {

// The reply limit of the message-port drivers at creation (ReplyLimit): 16 MiB.
inline constexpr int32_t kDefaultReplyLimit = 16 * 1024 * 1024;

class Parameter;

// Status words and error codes of the message-port drivers, in the GPIB
// library's terms.
inline constexpr uint16_t kStatusComplete = 0x0100;         // CMPL: the transfer completed
inline constexpr uint16_t kStatusSendTimedOut = 0xC000;     // ERR | TIMO (TCP/IP sends)
inline constexpr uint16_t kStatusReceiveTimedOut = 0x8500;  // ERR | CMPL | 0x400
inline constexpr int16_t kErrorAborted = 6;                 // EABO: operation aborted

class TESSEL_API IPort {
public:
    // Seconds.
    void TimeOut(float sngData) { IPort_TimeOut(sngData); }
    float TimeOut() { return IPort_TimeOut(); }
    // Status word of the last operation (bits: 0x8500 reads 34048).
    uint16_t Status() { return IPort_Status(); }
    // Sends strCommand, waits until the instrument has executed it and raises
    // its event status as an error. A query (text with "?") stores its reply in
    // *vntReturn; leaving vntReturn out for a query is an error, raised after
    // the reply has been read.
    void SendE(std::string_view strCommand, Variant* vntReturn = nullptr) {
        IPort_SendE(strCommand, vntReturn);
    }
    void Send(std::string_view strCommand) { IPort_Send(strCommand); }
    // Sends strCommand first unless it is Missing, then reads one reply.
    std::string Receive(const Variant& strCommand = Variant::Missing()) {
        return IPort_Receive(strCommand);
    }
    int16_t Error() { return IPort_Error(); }
    int32_t Count() { return IPort_Count(); }

protected:
    ~IPort() = default;
    virtual void IPort_TimeOut(float sngData) = 0;
    virtual float IPort_TimeOut() = 0;
    virtual uint16_t IPort_Status() = 0;
    virtual void IPort_SendE(std::string_view strCommand, Variant* vntReturn) = 0;
    virtual void IPort_Send(std::string_view strCommand) = 0;
    virtual std::string IPort_Receive(const Variant& strCommand) = 0;
    virtual int16_t IPort_Error() = 0;
    virtual int32_t IPort_Count() = 0;
};

class TESSEL_API IPortB {
public:
    // Reads exactly intCount bytes (after sending vntCommand unless Missing);
    // the result holds a byte array indexed from 0, or empty text when a stop
    // ended the wait.
    Variant ReceiveB(int16_t intCount, const Variant& vntCommand = Variant::Missing()) {
        return IPortB_ReceiveB(intCount, vntCommand);
    }
    // Writes strCommand (when not empty) and the bytes of vntData; the last
    // block of a transfer also gets the transport's terminator.
    void SendB(bool blnLastBlock, const Variant& vntData, std::string_view strCommand = {}) {
        IPortB_SendB(blnLastBlock, vntData, strCommand);
    }

protected:
    ~IPortB() = default;
    virtual Variant IPortB_ReceiveB(int16_t intCount, const Variant& vntCommand) = 0;
    virtual void IPortB_SendB(bool blnLastBlock, const Variant& vntData, std::string_view strCommand) = 0;
};

class TESSEL_API IPortDirect {
public:
    // Whatever has arrived, as text; never waits.
    std::string Receive() { return IPortDirect_Receive(); }
    // Whatever has arrived, as the transport hands it over; never waits.
    Variant ReceiveV() { return IPortDirect_ReceiveV(); }
    // Writes strCommand unchanged; never waits.
    void Send(std::string_view strCommand) { IPortDirect_Send(strCommand); }

protected:
    ~IPortDirect() = default;
    virtual std::string IPortDirect_Receive() = 0;
    virtual Variant IPortDirect_ReceiveV() = 0;
    virtual void IPortDirect_Send(std::string_view strCommand) = 0;
};

class TESSEL_API IPortSetup {
public:
    // True reads the settings afresh and opens the transport; False closes it.
    void OnLine(bool blnData) { IPortSetup_OnLine(blnData); }
    bool OnLine() { return IPortSetup_OnLine(); }
    // The driver's own settings root (not a copy); changes take effect at the
    // next OnLine(true).
    std::shared_ptr<Parameter> Settings() { return IPortSetup_Settings(); }
    std::string Name() { return IPortSetup_Name(); }
    void Name(std::string_view strNewValue) { IPortSetup_Name(strNewValue); }

protected:
    ~IPortSetup() = default;
    virtual void IPortSetup_OnLine(bool blnData) = 0;
    virtual bool IPortSetup_OnLine() = 0;
    virtual std::shared_ptr<Parameter> IPortSetup_Settings() = 0;
    virtual std::string IPortSetup_Name() = 0;
    virtual void IPortSetup_Name(std::string_view strNewValue) = 0;
};

}  // namespace tessel
