// clsGUI: a port with a person behind it instead of an instrument. A test
// written for an instrument runs unchanged against the operator: what it
// sends is shown in a message form, what it reads is typed into an input box
// (examples/operator.cpp):
//
//   auto gui = std::make_shared<tessel::clsGUI>();
//   gui->Name("Bench 3");                             // the windows' title
//   gui->Send("Connect the probe to TP4");            // OK, or Cancel raises
//   std::string volts = gui->Receive("Voltage at TP4?");
//
// The class implements IPort and IPortSetup (<tessel/port.h>). Its own
// members IPort_Send, IPort_Receive, IPortSetup_OnLine, ... are what a
// late-bound host reaches by name.
//
// Settings (root "GUI"):
//   "Show Commands"  list "Yes=-1,No=0"      default "Yes"  read at every Send
//   "X Position"     range "0<1>100", "%"    default 0      latched at OnLine(true)
//   "Y Position"     range "0<1>100", "%"    default 0      latched at OnLine(true)
// The positions place the windows on the screen: 0 against the left (top)
// edge, 100 against the right (bottom) edge, 50 in the middle. A change takes
// effect at the next OnLine(true); before the first one both are 0. Nothing
// checks the on-line state: every member works the same off-line.
//
// Send(strCommand): shows strCommand in the message form, titled with Name,
// and blocks until the operator presses OK or Cancel (Enter is OK, Esc is
// Cancel; Enter on a focused Cancel button presses Cancel). Closing the window
// with the window manager's close control counts as Cancel. With "Show
// Commands" = No it shows nothing and returns at once. Success leaves Status
// 256, Error 0, Count = characters in strCommand.
//
// Receive(strCommand): shows an input box, titled with Name, with strCommand
// as the prompt ("Please enter the previously requested information : " when
// Missing) and one blank " " as the default answer, its top-left corner at the
// positions' percentages of the screen; blocks until OK or Cancel and returns
// the answer exactly as typed. Success leaves Status 256, Error 0, Count = the
// answer's length.
//
// SendE(strCommand, vntReturn): Send without vntReturn; with it, Receive with
// strCommand as the prompt, the answer stored in *vntReturn.
//
// TimeOut: stored and returned (0 at creation); nothing here ever times out.
// OnLine(true) latches the positions; OnLine(false) only clears the flag.
//
// Errors:
//   * Cancel: kObjectErrorBase + kErrCancelButton (-2147219484, 0x800407E4),
//     "Cancel button used", source "clsGUI.IPort_Send" or
//     "clsGUI.IPort_Receive". An input box answered with an empty field is a
//     Cancel too. Status, Count and Error keep their previous values; the
//     object stays usable.
//   * No console: kObjectErrorBase + kErrNoOperatorConsole, with the member's
//     source, when the chosen console cannot be reached (see
//     SetOperatorConsole); raised at once, never a hang.
//   * A stop from the host (HostControl::RunState with bit 1 or 8) ends a
//     wait for the operator as a Cancel.
//   * Anything else (the settings, the window module) with the member's source
//     and the number as caught.
//
// Where the operator is met: with a display (DISPLAY names an X server that
// opens) the windows are FLTK dialogs from libtessel-console-fltk.so, beside
// libtessel, loaded at the first display; otherwise the controlling terminal
// (/dev/tty): the message with "OK/Cancel", or the prompt with the default
// answer to edit; Enter is OK, Esc or end of input (Ctrl+D) is Cancel.
// Typing replaces the default answer; Backspace edits it.
//
// Blocking: Send and Receive block until the operator answers, for as long as
// that takes. Meanwhile the thread's message loop keeps running (other
// drivers' events arrive, Post-ed work runs) and the thread sleeps between
// events.
//
// Threads: create, use and release a clsGUI on one thread. The windows share
// one display connection per process: show them from one thread at a time.
#pragma once

#include <cstddef>
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

// Where clsGUI meets the operator.
enum class OperatorConsole {
    Automatic,  // the display when there is one, else the terminal (the default)
    Window,     // the display only; without one, calls raise kErrNoOperatorConsole
    Terminal,   // the controlling terminal only, even when a display is there
};

// Chooses the console for every clsGUI of the process, from the next call
// on. Never blocks, never raises.
TESSEL_API void SetOperatorConsole(OperatorConsole console) noexcept;
TESSEL_API OperatorConsole GetOperatorConsole() noexcept;

class TESSEL_API clsGUI final : public Object, public IPort, public IPortSetup {
public:
    // Raises what the settings raise, with source
    // "clsGUI.Class_Initialize at line 0".
    clsGUI();
    ~clsGUI() override;
    clsGUI(const clsGUI&) = delete;
    clsGUI& operator=(const clsGUI&) = delete;

    TESSEL_API void IPort_TimeOut(float sngData) override { msngTimeOut = sngData; }
    TESSEL_API float IPort_TimeOut() override { return msngTimeOut; }
    // Blocks until the operator answers (see above).
    void IPort_Send(std::string_view strCommand) override;
    // Blocks until the operator answers (see above).
    std::string IPort_Receive(const Variant& strCommand) override;
    TESSEL_API int16_t IPort_Error() override { return mintError; }
    TESSEL_API int32_t IPort_Count() override { return mlngCount; }

    // Only a Boolean True latches the positions; any other value (1 too)
    // goes off-line. Raises what the settings raise, unchanged.
    void IPortSetup_OnLine(bool blnData) override;
    TESSEL_API bool IPortSetup_OnLine() override { return mblnOnLine; }
    TESSEL_API std::string IPortSetup_Name() override { return mstrName; }
    TESSEL_API void IPortSetup_Name(std::string_view strNewValue) override { mstrName = strNewValue; }

    // The late-bound form of OnLine: takes the raw Boolean, only -1 is True.
    void IPortSetup_OnLine(const Variant& vntData);

private:
    TESSEL_API uint16_t IPort_Status() override { return static_cast<uint16_t>(mintStatus); }
    void IPort_SendE(std::string_view strCommand, Variant* vntReturn) override;
    TESSEL_API std::shared_ptr<Parameter> IPortSetup_Settings() override { return mobjSettings; }
    // After the operator answered: yields once, then Status 256, Error 0, Count.
    TESSEL_INTERNAL void Completed(std::size_t characters);
    TESSEL_INTERNAL std::string TraceName() const;

    std::shared_ptr<Parameter> mobjSettings;
    float msngTimeOut = 0;
    bool mblnOnLine = false;
    int16_t mintStatus = 0;
    int32_t mlngCount = 0;
    int16_t mintError = 0;
    int16_t mintXPosition = 0;
    int16_t mintYPosition = 0;
    std::string mstrName;
};

}  // namespace tessel
