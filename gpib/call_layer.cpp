#include "gpib/call_layer.h"

#include <algorithm>
#include <iterator>

#include "gpib/gpib_library.h"
#include "ports/trace_hook.h"

namespace tessel::gpib {
namespace {

constexpr long kRegistrationFailedCount = static_cast<int32_t>(0xDEAD37F0u);

struct ErrorEntry {
    int16_t code;
    const char* text;
};
// Codes 8 and 21 have members of the enumeration but no text.
constexpr ErrorEntry kErrorTexts[] = {
    {kEDVR, "EDVR - DOS error"},
    {kECIC, "ECIC - Not CIC"},
    {kENOL, "ENOL - No listener"},
    {kEADR, "EADR - Address error"},
    {kEARG, "EARG - Invalid argument"},
    {kESAC, "ESAC - Not system controller"},
    {kEABO, "EABO - Operation aborted"},
    {kENEB, "ENEB - No GPIB board"},
    {kEOIP, "EOIP - Asynchronous I/O in progress"},
    {kECAP, "ECAP - No capability"},
    {kEFSO, "EFSO - File system error"},
    {kEBUS, "EBUS - Command error"},
    {kESTB, "ESTB - Status byte lost"},
    {kESRQ, "ESRQ - SRQ stuck high"},
    {kETAB, "ETAB - Table overflow"},
};

void Register(GpibThreadStatus& t, const GpibLibrary& library) {
    if (t.registered || !library.NeedsRegistration()) return;
    switch (library.registerGlobals(&t.statusCell, &t.errorCell, &t.countCell, &t.ibcntl)) {
        case 0:
            t.registered = true;
            break;
        case 1:
            library.unregisterGlobals();
            library.registerGlobals(&t.statusCell, &t.errorCell, &t.countCell, &t.ibcntl);
            t.registered = true;
            break;
        case 2:
        case 3:
            library.unregisterGlobals();
            [[fallthrough]];
        default:
            t.ibsta = LowWord(0x8000);
            t.iberr = 0;
            t.ibcntl = kRegistrationFailedCount;
            break;
    }
}

void CopyStatus(GpibThreadStatus& t, const GpibLibrary& library) {
    if (library.NeedsRegistration()) {
        t.ibsta = LowWord(t.statusCell);
        t.iberr = static_cast<int16_t>(t.errorCell);
    } else if (library.threadIbsta) {
        t.ibsta = LowWord(library.threadIbsta());
        t.iberr = static_cast<int16_t>(library.threadIberr());
        t.ibcntl = library.threadIbcntl();
    } else {
        t.ibsta = LowWord(*library.ibstaVariable);
        t.iberr = static_cast<int16_t>(*library.iberrVariable);
        t.ibcntl = *library.ibcntlVariable;
    }
}

// Registers when needed, calls, copies the status.
template <class Call>
auto Invoke(Call&& call) {
    GpibThreadStatus& t = ThreadStatus();
    if (!t.library || t.choice != GpibLibraryChoice()) {
        const unsigned choice = GpibLibraryChoice();
        auto library = CurrentGpibLibrary();
        if (t.library != library) {
            // Cells registered with another library mean nothing to this one.
            t.library = std::move(library);
            t.registered = false;
        }
        t.choice = choice;
    }
    const GpibLibrary& library = *t.library;
    Register(t, library);
    if constexpr (std::is_void_v<decltype(call(library))>) {
        call(library);
        CopyStatus(t, library);
    } else {
        auto result = call(library);
        CopyStatus(t, library);
        return result;
    }
}

// The driver's address lists: the primary address, then the end mark.
struct AddressList {
    explicit AddressList(int16_t pad) : entries{static_cast<Addr4882>(pad), kNoAddress} {}
    Addr4882 entries[2];
};

// What the last call moved, by its count: sent or arrived at `bytes`.
void TraceMoved(TraceDirection direction, int16_t board, int16_t pad, const void* bytes, long count,
                std::string_view end = {}) {
    if (!g_traceOn.load(std::memory_order_relaxed)) return;
    const long moved = std::clamp(ThreadStatus().ibcntl, 0L, count);
    std::string text(static_cast<const char*>(bytes), static_cast<std::size_t>(moved));
    // A line end the library adds itself crosses the bus only after all the text did.
    if (moved == count && !Failed()) text += end;
    TraceTransfer(direction, [&] { return "GPIB" + std::to_string(board) + ":" + std::to_string(pad); },
                  text.data(), text.size());
}

}  // namespace

GpibThreadStatus& ThreadStatus() {
    thread_local GpibThreadStatus status;
    return status;
}

std::string ErrorText(int16_t iberr) {
    for (const auto& entry : kErrorTexts)
        if (entry.code == iberr) return entry.text;
    return {};
}

int16_t CallIbfind(int16_t board) {
    const std::string name = "GPIB" + std::to_string(board);
    return Invoke([&](const GpibLibrary& l) { return LowWord(l.ibfind(name.c_str())); });
}

void CallIbsic(int16_t descriptor) {
    Invoke([&](const GpibLibrary& l) { l.ibsic(descriptor); });
}

int16_t CallIbdev(int16_t board, int16_t pad, int16_t sad, int16_t timeoutCode) {
    return Invoke([&](const GpibLibrary& l) { return LowWord(l.ibdev(board, pad, sad, timeoutCode, 1, 0)); });
}

void CallIbonl(int16_t descriptor) {
    Invoke([&](const GpibLibrary& l) { l.ibonl(descriptor, 0); });
}

void CallIbtmo(int16_t descriptor, int16_t timeoutCode) {
    Invoke([&](const GpibLibrary& l) { l.ibtmo(descriptor, timeoutCode); });
}

void CallIbeot(int16_t descriptor, bool eot) {
    Invoke([&](const GpibLibrary& l) { l.ibeot(descriptor, eot ? -1 : 0); });
}

void CallWrite(int16_t board, int16_t pad, int16_t descriptor, const void* bytes, long count) {
    Invoke([&](const GpibLibrary& l) { l.ibwrt(descriptor, bytes, count); });
    TraceMoved(TraceDirection::Sent, board, pad, bytes, count);
}

void CallReadBytes(int16_t board, int16_t pad, int16_t descriptor, uint8_t* bytes, long count) {
    Invoke([&](const GpibLibrary& l) { l.ibrd(descriptor, bytes, count); });
    TraceMoved(TraceDirection::Received, board, pad, bytes, count);
}

int16_t CallFindLstn(int16_t board, int16_t pad) {
    const AddressList list(pad);
    Addr4882 results[1] = {kNoAddress};
    Invoke([&](const GpibLibrary& l) { l.findLstn(board, list.entries, results, 1); });
    return static_cast<int16_t>(results[0]);
}

void CallSetRWLS(int16_t board, int16_t pad) {
    const AddressList list(pad);
    Invoke([&](const GpibLibrary& l) { l.setRWLS(board, list.entries); });
}

void CallEnableRemote(int16_t board, int16_t pad) {
    const AddressList list(pad);
    Invoke([&](const GpibLibrary& l) { l.enableRemote(board, list.entries); });
}

void CallEnableLocal(int16_t board, int16_t pad) {
    const AddressList list(pad);
    Invoke([&](const GpibLibrary& l) { l.enableLocal(board, list.entries); });
}

void CallSend(int16_t board, int16_t pad, std::string_view text) {
    Invoke([&](const GpibLibrary& l) {
        l.send(board, static_cast<Addr4882>(pad), text.data(), static_cast<long>(text.size()), l.EndMode(kNLEnd));
    });
    TraceMoved(TraceDirection::Sent, board, pad, text.data(), static_cast<long>(text.size()), "\n");
}

void CallReceive(int16_t board, int16_t pad, char* buffer, long count) {
    Invoke([&](const GpibLibrary& l) { l.receive(board, static_cast<Addr4882>(pad), buffer, count, kStopEnd); });
    TraceMoved(TraceDirection::Received, board, pad, buffer, count);
}

int16_t CallReadStatusByte(int16_t board, int16_t pad) {
    short result = 0;
    Invoke([&](const GpibLibrary& l) { l.readStatusByte(board, static_cast<Addr4882>(pad), &result); });
    return LowWord(result);
}

int16_t TestServiceRequest(int16_t board) {
    Invoke([&](const GpibLibrary& l) { l.ibwait(board, 0); });
    return (ThreadStatus().ibsta & kSRQI) ? 1 : 0;
}

int ServiceRequestHandle() {
    auto library = CurrentGpibLibrary();
    return library->serviceRequestHandle ? library->serviceRequestHandle() : -1;
}

}  // namespace tessel::gpib
