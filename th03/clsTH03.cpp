#include <tessel/th03.h>

#include <string>
#include <vector>

#include <tessel/error.h>
#include <tessel/host.h>

#include "ports/handlers.h"
#include "ports/parameters/list_settings.h"
#include "ports/trace_hook.h"
#include "th03/logger_library.h"

namespace tessel {
namespace {

constexpr const char* kInitializeSource = "clsTH03.Class_Initialize";
constexpr const char* kOnlineSource = "clsTH03.IPortSetup_Online";
constexpr const char* kValueSource = "clsTH03.Value";
constexpr const char* kCycleSource = "clsTH03.Cycle";
constexpr const char* kVersionSource = "clsTH03.Version";
constexpr const char* kFilterFactorSource = "clsTH03.FilterFactor";

// Every transition to on-line starts with this filter factor.
constexpr int16_t kOnLineFilterFactor = 10;

// The loggers this thread's objects opened. Three lists indexed by slot; slot
// 0 is never a logger, so an object's slot 0 means "none".
struct UnitTable {
    int16_t online_count = 0;
    std::vector<int16_t> port{0};
    std::vector<bool> open{false};
    std::vector<int16_t> users{0};

    int16_t HighestSlot() const { return static_cast<int16_t>(port.size() - 1); }
};

UnitTable& ThreadUnits() {
    thread_local UnitTable table;
    return table;
}

// The slot of `port`'s logger, added when this thread has none for it yet.
int16_t FindOrAddSlot(UnitTable& table, int16_t port) {
    if (table.HighestSlot() <= 0) {
        table.port.assign(2, 0);
        table.open.assign(2, false);
        table.users.assign(2, 0);
        return 1;
    }
    for (int16_t slot = 1; slot <= table.HighestSlot(); ++slot)
        if (table.port[slot] == port) return slot;
    table.port.push_back(0);
    table.open.push_back(false);
    table.users.push_back(0);
    return table.HighestSlot();
}

// The off-line steps: the object stops counting as a user of its logger,
// which is closed when it was the last. Clears `slot`.
void LeaveUnit(int16_t& slot) noexcept {
    if (slot == 0) return;
    UnitTable& table = ThreadUnits();
    --table.users[slot];
    --table.online_count;
    if (table.users[slot] == 0 && table.open[slot]) {
        const int16_t port = table.port[slot];
        table.open[slot] = false;
        table.port[slot] = 0;
        // The library stays loaded while any logger is open (UseTH03Library
        // refuses to drop it), so closing cannot meet a load error.
        try {
            th03::CloseUnit(port);
        } catch (const ComError&) {
        }
    }
    slot = 0;
}

// One of the three reads: raises `failure` when the library reports no
// value, and also, without asking the library about port 0, when the object
// holds no logger. A value read is traced as arriving, in the library's own
// units, from "TH03 COM<port>:<channel>".
template <class Read>
int32_t ReadCell(int16_t slot, int16_t channel, const char* source, const char* failure, Read&& read) {
    if (slot == 0) RaiseError(kObjectErrorBase + tthsQueryFailed, source, failure);
    const int16_t port = ThreadUnits().port[slot];
    int32_t cell = 0;
    const int16_t result = WithGeneralHandler(source, [&] { return read(cell, port); });
    if (result <= 0) RaiseError(kObjectErrorBase + tthsQueryFailed, source, failure);
    if (g_traceOn.load(std::memory_order_relaxed)) {
        const std::string text = std::to_string(cell);
        TraceTransfer(TraceDirection::Received,
                      [&] { return "TH03 COM" + std::to_string(port) + ":" + std::to_string(channel); }, text.data(),
                      text.size());
    }
    return cell;
}

}  // namespace

clsTH03::clsTH03() {
    WithGeneralHandler(kInitializeSource, [&] {
        mobjSettings = CreateListSettings("TH03", {
            {"Comm Port", "COM1=1,COM2=2,COM3=3", Variant(int16_t{1})},
            {"Channel", "1=1,2=2,3=3", Variant("1")},
            {"Sensor",
             "Off=0,Temp. Sensor (30k) EL015=1,Temp. Sensor (100k)=2,Temp. Sensor (1.2M)=3,"
             "Light Sensor EL031=4,Door Switch EL029=5,Unicam=6,Temp. Sensor EL039=7",
             Variant("1")},
        });
    });
    UnitTable& table = ThreadUnits();
    // Nothing of this thread is on-line, so no object holds a slot: the
    // table may start afresh and closed loggers' slots go.
    if (table.online_count == 0) {
        table.port.assign(1, 0);
        table.open.assign(1, false);
    }
}

clsTH03::~clsTH03() { LeaveUnit(mintSlot); }

void clsTH03::IPortSetup_OnLine(bool blnData) {
    if (!blnData) {
        LeaveUnit(mintSlot);
        return;
    }
    WithGeneralHandler(kOnlineSource, [&] {
        auto value = [&](const char* name) { return mobjSettings->Item(name)->Value(-1, -1); };
        const int16_t port = value("Comm Port").ToInteger();
        mintChannel = value("Channel").ToInteger();
        mlngSensor = static_cast<TH03Sensors>(value("Sensor").ToLong());
        mintFilterFactor = kOnLineFilterFactor;
        const int16_t sensor = Variant(static_cast<int32_t>(mlngSensor)).ToInteger();

        UnitTable& table = ThreadUnits();
        if (mintSlot != 0 && table.port[mintSlot] == port) {
            // Already counted as a user of this logger: only the channel changes.
            th03::SetChannel(port, mintChannel, sensor, mintFilterFactor);
            return;
        }
        LeaveUnit(mintSlot);
        const int16_t highest = table.HighestSlot();
        const int16_t slot = FindOrAddSlot(table, port);
        if (!table.open[slot]) {
            if (th03::OpenUnit(port) <= 0) {
                // A failed open leaves no slot behind, so the table does not
                // grow with every retry.
                if (slot > highest) {
                    table.port.resize(slot);
                    table.open.resize(slot);
                    table.users.resize(slot);
                }
                RaiseError(kObjectErrorBase, kOnlineSource, "TH-03 at com port " + std::to_string(port) + " failed to open");
            }
            table.port[slot] = port;
            table.open[slot] = true;
        }
        th03::SetChannel(port, mintChannel, sensor, mintFilterFactor);
        ++table.users[slot];
        ++table.online_count;
        mintSlot = slot;
    });
}

bool clsTH03::IPortSetup_OnLine() { return mintSlot != 0 && ThreadUnits().open[mintSlot]; }

double clsTH03::value() {
    const int32_t hundredths =
        ReadCell(mintSlot, mintChannel, kValueSource, "Get Value failed", [&](int32_t& cell, int16_t port) {
            return th03::GetTemp(cell, port, mintChannel, mintFilterFactor);
        });
    return hundredths / 100.0;
}

int32_t clsTH03::Cycle() {
    return ReadCell(mintSlot, mintChannel, kCycleSource, "Get Cycle failed",
                    [](int32_t& cell, int16_t port) { return th03::GetCycle(cell, port); });
}

int32_t clsTH03::Version() {
    return ReadCell(mintSlot, mintChannel, kVersionSource, "Get Version failed",
                    [](int32_t& cell, int16_t port) { return th03::GetVersion(cell, port); });
}

void clsTH03::FilterFactor(int16_t intNewValue) {
    if (intNewValue < 1 || intNewValue > 100)
        RaiseError(kObjectErrorBase + tthsInvalidPropertyValue, kFilterFactorSource,
                   "Invalid Property Value (FilterFactor = " + std::to_string(intNewValue) + ")");
    mintFilterFactor = intNewValue;
}

TH03UnitTable TH03ThreadUnits() {
    const UnitTable& table = ThreadUnits();
    TH03UnitTable copy;
    copy.OnLineCount = table.online_count;
    for (int16_t slot = 1; slot <= table.HighestSlot(); ++slot)
        copy.Units.push_back({table.port[slot], table.open[slot], table.users[slot]});
    return copy;
}

}  // namespace tessel
