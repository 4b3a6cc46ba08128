// clsGPIB: one instrument on a GPIB bus, reached through a GPIB library
// loaded at run time; docs/gpib.md has the whole story (examples/gpib_query.cpp):
//
//   auto gpib = std::make_shared<tessel::clsGPIB>();   // or CreateObject("Tessel.clsGPIB")
//   gpib->Settings()->Item("Board")->Value(-1, -1, tessel::Variant("0"));
//   gpib->Settings()->Item("Primary Address")->Value(-1, -1, tessel::Variant(int16_t{12}));
//   gpib->OnLine(true);
//   std::string id = gpib->Receive("*IDN?");
//
// The class implements IPort, IPortB and IPortSetup (<tessel/port.h>).
//
// The library: UseGpibLibrary names the file; without it the first call
// loads libgpib.so.0 when installed, else Tessel's simulated bus
// libtessel-gpib-sim.so beside libtessel (<tessel/gpib_sim.h>).
// GpibLibraryInUse says which file was loaded. A file that cannot be loaded
// or lacks a function is raised by the member that needed it, with the
// member's source, as 53 "File not found", 48 "Error in loading DLL" or 453
// "Specified DLL function not found", the description naming the file and
// the function; choose another file and the same object works again.
//
// Settings (root "GPIB"), read afresh at every OnLine(true):
//   "Board"              list "0=0,1=1,2=2,3=3"   default "0"   GPIB0..GPIB3
//   "Primary Address"    range "0<1>30"           default 0
//   "Secondary Address"  range "0, 96<1>126"      default 0 (none); 96..126
//                        are secondary addresses 0..30
//
// On-line: OnLine(true) opens the board unless another clsGPIB of this
// thread has it open (then clears the interface), checks that a listener
// answers at the primary address, opens a device descriptor and puts the
// instrument into remote with local lockout. Failures leave the port
// off-line, the board closed again unless others use it, and carry source
// "clsGPIB.IPortSetup_Online"; a missing instrument raises kObjectErrorBase +
// tibENOL "No listener found at board <b>, address <a>". OnLine(false)
// returns the instrument to local and closes what this object opened; the
// destructor closes them too but leaves the instrument in remote.
//
// Transfers block inside the library for at most the port's time-out code:
//   Send      the text, then a line feed with EOI; then a 10 ms pause.
//   Receive   one message ending with EOI, at most 1023 bytes (the rest stays
//             with the instrument); blanks around it and one final line feed
//             are removed (" 42 \r\n" gives "42 \r").
//   SendB     an optional header without EOI, then the block, with EOI on its
//             last byte only when it is the last block; then a 10 ms pause.
//             The block is a byte array, or text sent as its bytes.
//   ReceiveB  up to intCount bytes (stops at EOI); always intCount bytes
//             back, zeros after the ones read, whose number Count gives.
//             intCount below 1 raises 9 "Subscript out of range".
//   SendE     the command with "*CLS", "*SRE 96", "*ESE 61" before it and
//             "; *OPC" after; waits (sleeping) for the service request at
//             most TimeOut seconds, serial-polls, reads the reply the status
//             byte announces into *vntReturn, then raises the event status
//             bits as <tessel/port.h> describes. Its own failures carry source
//             "clsGPIB.IPort_SendE"; a missing service request raises
//             kObjectErrorBase + 2015 "Send with handshake timed out after <s>
//             seconds". A host run state with bit 1 or 8 ends the wait and a
//             stop request then ends the call quietly.
//
// TimeOut: the library knows 18 codes; a written value is rounded up to the
// next of 0 (none), 10 us, 30 us, 100 us, ... 1, 3, 10, 30, 100, 300, 1000 s
// (anything above 300 gives 1000; negative values 10 us), and reading gives
// that time, not the value written. 1 second at creation.
//
// Errors of the library: number kObjectErrorBase + tibEDVR + error code,
// source "GPIB-32", description "<text> at board <b>, address <a>" (the text
// may be empty). Time-outs: kObjectErrorBase + 2015, source the member's
// ("clsGPIB.IPort_Send", "clsGPIB.IPort_Receive", "clsGPIB.IPort_SendB",
// "clsGPIB.IPortB_ReceiveB"), "Send timed out after <TimeOut> seconds" or
// "Receive timed out after <TimeOut> seconds". Any other failure carries the
// member's source.
//
// Status, Error and Count are those of the last library call made on the
// calling thread by any clsGPIB, not necessarily this one: the library's
// status word, error code and transfer count. All 0 before the first call.
//
// Threads: create, use and release a clsGPIB on one thread. Objects of one
// thread share its open boards and its status; objects of different threads
// share nothing.
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

// The GPIB library's error codes as the component numbers them: 2030 plus the
// code. A library failure raises kObjectErrorBase plus one of these.
enum tibErrorConstants : int32_t {
    tibEDVR = 2030,  // system error
    tibECIC = 2031,  // not controller in charge
    tibENOL = 2032,  // no listener
    tibEADR = 2033,  // address error
    tibEARG = 2034,  // invalid argument
    tibESAC = 2035,  // not system controller
    tibEABO = 2036,  // operation aborted (time-out)
    tibENEB = 2037,  // no GPIB board
    tibEDMA = 2038,
    tibEOIP = 2040,  // asynchronous I/O in progress
    tibECAP = 2041,  // no capability
    tibEFSO = 2042,  // file system error
    tibEBUS = 2044,  // command error
    tibESTB = 2045,  // status byte lost
    tibESRQ = 2046,  // SRQ stuck high
    tibETAB = 2050,  // table overflow
    tibELCK = 2051,
};

// Chooses the GPIB library file (a path, or a bare name for the system's
// search); empty goes back to the standard search. Takes effect at the next
// library call of any thread; never raises, never blocks. Choose before
// objects go on-line: descriptors opened in one library mean nothing to
// another.
TESSEL_API void UseGpibLibrary(std::string_view path);

// The file of the GPIB library in use, loading it if no call has yet; empty
// when it cannot be loaded (the next member that needs it raises why).
// Never raises.
TESSEL_API std::string GpibLibraryInUse();

class TESSEL_API clsGPIB final : public Object, public IPort, public IPortB, public IPortSetup {
public:
    clsGPIB();
    // Takes the device off-line and closes the board if this was its last
    // user; raises nothing.
    ~clsGPIB() override;
    clsGPIB(const clsGPIB&) = delete;
    clsGPIB& operator=(const clsGPIB&) = delete;

    void IPort_TimeOut(float sngData) override;
    float IPort_TimeOut() override;
    void IPort_Send(std::string_view strCommand) override;
    std::string IPort_Receive(const Variant& strCommand) override;
    int16_t IPort_Error() override;
    int32_t IPort_Count() override;

    void IPortSetup_OnLine(bool blnData) override;
    TESSEL_API bool IPortSetup_OnLine() override { return mintDevice != -1; }
    TESSEL_API std::string IPortSetup_Name() override { return mstrName; }
    TESSEL_API void IPortSetup_Name(std::string_view strNewValue) override { mstrName = strNewValue; }

private:
    // Reached through the interfaces only.
    uint16_t IPort_Status() override;
    void IPort_SendE(std::string_view strCommand, Variant* vntReturn) override;
    TESSEL_API std::shared_ptr<Parameter> IPortSetup_Settings() override { return mobjSettings; }
    Variant IPortB_ReceiveB(int16_t intCount, const Variant& vntCommand) override;
    void IPortB_SendB(bool blnLastBlock, const Variant& vntData, std::string_view strCommand) override;

    TESSEL_INTERNAL std::string GetGpibErrorDescription();
    TESSEL_INTERNAL void GoOnline();
    TESSEL_INTERNAL void GoOffline();
    TESSEL_INTERNAL void CloseBoardIfUnused();
    [[noreturn]] TESSEL_INTERNAL void RaiseLibraryFailure(const char* source);
    [[noreturn]] TESSEL_INTERNAL void RaiseTransferFailure(const char* source, const char* lead);
    TESSEL_INTERNAL void WaitForServiceRequest();

    std::shared_ptr<Parameter> mobjSettings;
    int16_t mintTimeout = 11;
    int16_t mintPAD = 0;
    int16_t mintBoard = 0;
    int16_t mintDevice = -1;
    std::string mstrName;
};

}  // namespace tessel
