#include "ports/checked_send.h"

#include <string>

#include <tessel/error.h>
#include <tessel/events.h>
#include <tessel/host.h>
#include <tessel/timeout.h>

#include "ports/handlers.h"
#include "ports/wait.h"

namespace tessel {
namespace {

// Bits of the standard event status register, in the order they are tested.
struct EventTest {
    int16_t bit;
    int32_t code;
    const char* description;
};
constexpr EventTest kEventTests[] = {
    {4, kErrQueryError, "Device reports a query error"},
    {8, kErrDeviceDependentError, "Device reports a device dependent error"},
    {16, kErrExecutionError, "Device reports a execution error"},
    {32, kErrCommandError, "Device reports a command error"},
};
constexpr int16_t kOperationComplete = 1;
constexpr float kStatusPollLimit = 4.0f;

}  // namespace

void CheckedSend(IPort& port, std::string_view source, std::string_view strCommand, Variant* vntReturn) {
    auto general = [source](auto&& fn) { return WithGeneralHandler(source, fn); };
    const std::string src(source);
    HostControl& host = CurrentHostControl();
    auto stopRequested = [&] { return general([&] { return host.StopRequested(); }); };

    if (vntReturn) *vntReturn = Variant(std::string());
    for (const char* setup : {"*CLS", "*SRE 0", "*ESE 61"}) {
        if (stopRequested()) return;
        port.Send(setup);
    }
    if (stopRequested()) return;

    clsTimeout timer;
    general([&] {
        const float limit = port.TimeOut();
        timer.Start(limit > kStatusPollLimit ? kStatusPollLimit : limit);
    });

    const std::string command = std::string(strCommand) + "; *OPC";
    if (strCommand.find('?') != std::string_view::npos) {
        std::string reply = port.Receive(Variant(command));
        if (!vntReturn)
            RaiseError(kObjectErrorBase + kErrReturnParameterMissing, src, "Return parameter missing");
        *vntReturn = Variant(std::move(reply));
    } else {
        port.Send(command);
    }

    for (;;) {
        if (stopRequested()) return;
        const std::string status = port.Receive(Variant("*STB?"));
        if (stopRequested()) return;
        auto raiseClear = [&] {
            RaiseError(kObjectErrorBase + kErrEventRegisterClear, src, "Event register was unexpectedly clear");
        };
        // A run state that ends the receive before the reply leaves it empty;
        // the stop is what happened, not a reply that fails to convert.
        if (status.empty() && general([&] { return RunStateStops(host.RunState()); })) raiseClear();
        const int16_t statusByte = general([&] { return Variant(status).ToInteger(); });
        if (statusByte & kEventSummaryBit) break;
        const bool stop = general([&] {
            const bool expired = timer.State() == tmoExpired;
            return expired || RunStateStops(host.RunState());
        });
        if (stop) raiseClear();
    }

    general([] { DoEvents(); });
    const std::string event = port.Receive(Variant("*ESR?"));
    if (stopRequested()) return;
    const int16_t eventStatus = general([&] { return Variant(event).ToInteger(); });
    RaiseEventStatus(eventStatus, source);
    general([] { DoEvents(); });
}

void RaiseEventStatus(int16_t eventStatus, std::string_view source) {
    const std::string src(source);
    for (const auto& test : kEventTests) {
        if (eventStatus & test.bit) RaiseError(kObjectErrorBase + test.code, src, test.description);
        WithGeneralHandler(source, [] { DoEvents(); });
    }
    if (!(eventStatus & kOperationComplete))
        RaiseError(kObjectErrorBase + kErrOperationNotComplete, src, "Device unexpectedly reports operation not complete");
}

}  // namespace tessel
