#include <tessel/gui.h>

#include <new>

#include <tessel/error.h>
#include <tessel/events.h>
#include <tessel/host.h>

#include "console/operator_console.h"
#include "ports/handlers.h"
#include "ports/trace_hook.h"

namespace tessel {
namespace {

constexpr const char* kInitializeSource = "clsGUI.Class_Initialize at line 0";
constexpr const char* kSendSource = "clsGUI.IPort_Send";
constexpr const char* kReceiveSource = "clsGUI.IPort_Receive";
constexpr const char* kCancelText = "Cancel button used";
constexpr const char* kDefaultPrompt = "Please enter the previously requested information : ";
// One blank, so that OK on an untouched box is an answer and not a Cancel.
constexpr const char* kDefaultAnswer = " ";
constexpr int16_t kTrue = -1;

[[noreturn]] void RaiseCancel(const char* source) {
    RaiseError(kObjectErrorBase + kErrCancelButton, source, kCancelText);
}

[[noreturn]] void RaiseOutOfMemory(const char* source) {
    RaiseError(kErrOutOfMemory, source, RuntimeErrorText(kErrOutOfMemory));
}

}  // namespace

clsGUI::clsGUI() {
    try {
        mobjSettings = Parameter::Create();
        mobjSettings->Define("GUI", 4, 3, "", "");
        mobjSettings->Add("Show Commands", 1, kParameterList, "Yes=-1,No=0", "")->Value(-1, -1, Variant("Yes"));
        mobjSettings->Add("X Position", 1, kParameterRange, "0<1>100", "%")->Value(-1, -1, Variant(int16_t{0}));
        mobjSettings->Add("Y Position", 1, kParameterRange, "0<1>100", "%")->Value(-1, -1, Variant(int16_t{0}));
    } catch (const ComError& e) {
        Reraise(e, kInitializeSource, e.Description);
    } catch (const std::bad_alloc&) {
        RaiseOutOfMemory(kInitializeSource);
    }
}

clsGUI::~clsGUI() = default;

void clsGUI::IPort_Send(std::string_view strCommand) {
    bool cancelled = false;
    try {
        if (mobjSettings->Item("Show Commands")->Value(-1, -1).ToDouble() == kTrue)
            cancelled = console::ShowMessage(mstrName, std::string(strCommand), mintXPosition, mintYPosition);
        if (!cancelled) {
            TraceTransfer(TraceDirection::Sent, [this] { return TraceName(); }, strCommand.data(), strCommand.size());
            Completed(strCommand.size());
        }
    } catch (const ComError& e) {
        Reraise(e, kSendSource, e.Description);
    } catch (const std::bad_alloc&) {
        RaiseOutOfMemory(kSendSource);
    }
    if (cancelled) RaiseCancel(kSendSource);
}

std::string clsGUI::IPort_Receive(const Variant& strCommand) {
    std::string answer;
    try {
        const std::string prompt = strCommand.IsMissing() ? std::string(kDefaultPrompt) : strCommand.ToString();
        answer = console::InputBox(prompt, mstrName, kDefaultAnswer, mintXPosition, mintYPosition);
        if (!answer.empty()) {
            TraceTransfer(TraceDirection::Received, [this] { return TraceName(); }, answer.data(), answer.size());
            Completed(answer.size());
        }
    } catch (const ComError& e) {
        Reraise(e, kReceiveSource, e.Description);
    } catch (const std::bad_alloc&) {
        RaiseOutOfMemory(kReceiveSource);
    }
    if (answer.empty()) RaiseCancel(kReceiveSource);
    return answer;
}

// The operator is the far end of this port; a trace names the port's own name.
std::string clsGUI::TraceName() const { return mstrName.empty() ? "console" : "console " + mstrName; }

void clsGUI::Completed(std::size_t characters) {
    DoEvents();
    mintStatus = static_cast<int16_t>(kStatusComplete);
    mintError = 0;
    mlngCount = static_cast<int32_t>(characters);
}

// No handler of its own: what Send or Receive raises reaches the caller as is.
void clsGUI::IPort_SendE(std::string_view strCommand, Variant* vntReturn) {
    if (vntReturn == nullptr) {
        IPort_Send(strCommand);
        return;
    }
    *vntReturn = Variant(IPort_Receive(Variant(strCommand)));
}

// No handler: a failing setting reaches the caller as the settings raised it.
void clsGUI::IPortSetup_OnLine(bool blnData) {
    if (!blnData) {
        mblnOnLine = false;
        return;
    }
    mblnOnLine = true;
    mintXPosition = mobjSettings->Item("X Position")->Value(-1, -1).ToInteger();
    mintYPosition = mobjSettings->Item("Y Position")->Value(-1, -1).ToInteger();
}

void clsGUI::IPortSetup_OnLine(const Variant& vntData) {
    const bool isTrue = vntData.Type() == VarType::Boolean ? vntData.RawBooleanValue() == kTrue
                                                           : vntData.ToDouble() == kTrue;
    IPortSetup_OnLine(isTrue);
}

}  // namespace tessel
