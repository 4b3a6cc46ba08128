// clsTH03: one channel of a TH-03 temperature logger, a box with three
// measuring channels on a COM port, read through the logger's own library
// (examples/temperature_logger.cpp):
//
//   auto th03 = std::make_shared<tessel::clsTH03>();
//   th03->Settings()->Item("Comm Port")->Value(-1, -1, port);
//   th03->Settings()->Item("Channel")->Value(-1, -1, channel);
//   th03->OnLine(true);
//   double celsius = th03->value();
//
// The class implements IPortSetup only (<tessel/port.h>); it is not a message
// port. Its own members value, Cycle, Version, Sensor, FilterFactor,
// IPortSetup_Name and IPortSetup_OnLine make up its default interface;
// Settings is reached through IPortSetup.
//
// Settings (root "TH03"), read afresh at every OnLine(true):
//   "Comm Port"  list "COM1=1,COM2=2,COM3=3"      default 1
//   "Channel"    list "1=1,2=2,3=3"               default "1"
//   "Sensor"     list of the TH03Sensors labels   default "1" (thsEL015)
//
// Loggers are shared. Every object of a thread that reads a channel of the
// same COM port uses one opened logger: the first OnLine(true) opens it, each
// object selects its own channel and sensor on it, and the logger is closed
// when its last object goes off-line or is released. The table of opened
// loggers is per thread (TH03ThreadUnits): objects of another thread open
// the port again for themselves.
//
// The logger library is the file libth0332.so in the folder that holds
// libtessel itself, loaded at the first call into it, unless the host names
// another file (UseTH03Library). Tessel installs a library of its own there
// that simulates loggers (<tessel/th03_sim.h>). The process's current
// directory is never changed.
//
// Errors (number, source, description exactly as shown):
//   * OnLine(true), source "clsTH03.IPortSetup_Online":
//       kObjectErrorBase itself, "TH-03 at com port 3 failed to open" when no
//       logger answers on the port; the object then reads OnLine() false;
//       53 "File not found", 48 "Error in loading DLL" or 453 "Specified DLL
//       function not found" when the logger library is missing, cannot be
//       loaded or lacks one of its six functions (Detail names the file and
//       the function); a settings value that is not a number: 13 "Type
//       mismatch".
//   * value, Cycle, Version: kObjectErrorBase + tthsQueryFailed with source
//     "clsTH03.Value" / "clsTH03.Cycle" / "clsTH03.Version" and "Get Value
//     failed" / "Get Cycle failed" / "Get Version failed" when the logger
//     reports no reading (unplugged, a channel switched Off), and also on an
//     object that is not on-line: the library is not called then.
//   * FilterFactor writes outside 1 to 100: kObjectErrorBase +
//     tthsInvalidPropertyValue, "clsTH03.FilterFactor", "Invalid Property
//     Value (FilterFactor = 101)".
//   * creation: "clsTH03.Class_Initialize" with what the settings raised.
//
// Blocking: each call into the logger library blocks for as long as the
// library takes (the simulated one returns at once); calls of all threads
// into the library are made one at a time. Nothing else waits.
//
// Threads: create, use and release a clsTH03 on one thread; its logger table
// is that thread's. UseTH03Library and TH03LibraryPath may be called from any
// thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <tessel/export.h>
#include <tessel/object.h>
#include <tessel/parameter.h>
#include <tessel/port.h>

namespace tessel {

// Sensor types of the "Sensor" setting; the labels are the setting's.
enum TH03Sensors : int32_t {
    thsOff = 0,      // "Off": the channel gives no reading
    thsEL015 = 1,    // "Temp. Sensor (30k) EL015"
    ths100k = 2,     // "Temp. Sensor (100k)"
    ths1M2 = 3,      // "Temp. Sensor (1.2M)"
    thsEL031 = 4,    // "Light Sensor EL031"
    thsEL29 = 5,     // "Door Switch EL029"
    thsUnicam = 6,   // "Unicam"
    thsEL039 = 7,    // "Temp. Sensor EL039"
};

// Codes added to kObjectErrorBase by clsTH03.
enum ErrorConstants : int32_t {
    tthsInvalidPropertyValue = 380,  // FilterFactor out of 1..100
    tthsQueryFailed = 2004,          // value, Cycle, Version
    tthsCommandFailed = 2005,        // published; never raised
};

class TESSEL_API clsTH03 final : public Object, public IPortSetup {
public:
    // Creates the settings at their defaults; opens nothing. Raises what the
    // settings raise, with source "clsTH03.Class_Initialize".
    clsTH03();
    // Goes off-line (closing the logger when this was its last object); never raises.
    ~clsTH03() override;
    clsTH03(const clsTH03&) = delete;
    clsTH03& operator=(const clsTH03&) = delete;

    // The channel's reading in its unit (degrees for temperature sensors):
    // the logger's hundredths / 100, so -512 reads -5.12. Uses the current
    // FilterFactor. Raises "Get Value failed" (see above); blocks in the
    // library call only.
    double value();
    // The logger's cycle number, as the library reports it. Raises "Get
    // Cycle failed"; blocks in the library call only.
    int32_t Cycle();
    // The logger's version number. Raises "Get Version failed"; blocks in
    // the library call only.
    int32_t Version();
    // The sensor type read at the last OnLine(true); thsOff before the first.
    TH03Sensors Sensor() const { return mlngSensor; }
    // The filter factor passed with every reading: 10 after each
    // OnLine(true), whatever was written before it. Never blocks.
    int16_t FilterFactor() const { return mintFilterFactor; }
    // Accepts 1 to 100; raises tthsInvalidPropertyValue otherwise and keeps
    // the value. Does not call the library.
    void FilterFactor(int16_t intNewValue);

    // True reads the settings, opens the logger on "Comm Port" unless this
    // thread has it open already, and selects "Channel" and "Sensor" on it;
    // FilterFactor becomes 10. Raises as listed above; on failure the object
    // is off-line and holds no place in the logger table. True on an object
    // that is on-line reads the settings again and counts it once: with the
    // same port it only selects channel and sensor again, with another port
    // it leaves the old logger first. False leaves the logger (closing it
    // after its last object); it never raises and is harmless when off-line.
    // Blocks in the library calls only.
    void IPortSetup_OnLine(bool blnData) override;
    // True while the logger this object uses is open.
    bool IPortSetup_OnLine() override;
    TESSEL_API std::string IPortSetup_Name() override { return mstrName; }
    TESSEL_API void IPortSetup_Name(std::string_view strNewValue) override { mstrName = strNewValue; }

private:
    TESSEL_API std::shared_ptr<Parameter> IPortSetup_Settings() override { return mobjSettings; }

    std::shared_ptr<Parameter> mobjSettings;
    int16_t mintSlot = 0;
    int16_t mintChannel = 0;
    int16_t mintFilterFactor = 0;
    std::string mstrName;
    TH03Sensors mlngSensor = thsOff;
};

// One opened logger in the calling thread's table.
struct TH03Unit {
    int16_t Port = 0;    // COM port number; 0 once the logger was closed
    bool Open = false;
    int16_t Users = 0;   // the on-line objects reading it
};

// The calling thread's logger table: slot n is Units[n - 1]. Slots are
// numbered from 1 in the order loggers were first opened; a closed logger's
// slot stays (port 0) until the table starts afresh, which happens when an
// object is created while none of this thread's objects is on-line.
struct TH03UnitTable {
    int16_t OnLineCount = 0;  // this thread's on-line objects
    std::vector<TH03Unit> Units;
};

// A copy of the calling thread's table, for diagnostics. Never blocks.
TESSEL_API TH03UnitTable TH03ThreadUnits();

// Names the logger library file (a full path) for every later load; an empty
// path goes back to libth0332.so beside libtessel. A library already loaded
// is unloaded now. Raises 5 "Invalid procedure call or argument" (source
// "Tessel"), and changes nothing, while any thread of the process has a
// logger open through it. Blocks while another thread is inside the library.
TESSEL_API void UseTH03Library(const std::string& path);

// The file that is or will be loaded: the named one, else the full path of
// libth0332.so beside libtessel. Blocks while another thread is inside the library.
TESSEL_API std::string TH03LibraryPath();

}  // namespace tessel
