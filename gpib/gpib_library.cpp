#include "gpib/gpib_library.h"

#include <sys/stat.h>

#include <atomic>
#include <mutex>
#include <vector>

#include <tessel/error.h>
#include <tessel/gpib.h>
#include <tessel/host.h>

namespace tessel::gpib {
namespace {

constexpr const char* kSystemLibrary = "libgpib.so.0";
constexpr const char* kSimulatedLibrary = "libtessel-gpib-sim.so";

struct LoaderState {
    std::mutex mu;
    std::string named;  // what the host chose; empty: search
    std::shared_ptr<const GpibLibrary> loaded;
    std::atomic<unsigned> choice{0};
};

LoaderState& Loader() {
    static LoaderState state;
    return state;
}

template <class F>
void Require(const SharedLibrary& file, F*& slot, const char* name) {
    slot = file.RequireFunction<F*>(name);
}

std::shared_ptr<const GpibLibrary> Resolve(SharedLibrary file) {
    auto library = std::make_shared<GpibLibrary>();
    Require(file, library->ibfind, "ibfind");
    Require(file, library->ibsic, "ibsic");
    Require(file, library->ibdev, "ibdev");
    Require(file, library->ibonl, "ibonl");
    Require(file, library->ibtmo, "ibtmo");
    Require(file, library->ibeot, "ibeot");
    Require(file, library->ibwrt, "ibwrt");
    Require(file, library->ibrd, "ibrd");
    Require(file, library->ibwait, "ibwait");
    Require(file, library->findLstn, "FindLstn");
    Require(file, library->setRWLS, "SetRWLS");
    Require(file, library->enableRemote, "EnableRemote");
    Require(file, library->enableLocal, "EnableLocal");
    Require(file, library->send, "Send");
    Require(file, library->receive, "Receive");
    Require(file, library->readStatusByte, "ReadStatusByte");
    library->registerGlobals = file.FindFunction<RegisterGlobalsFn*>("RegisterGpibGlobalsForThread");
    library->unregisterGlobals = file.FindFunction<UnregisterGlobalsFn*>("UnregisterGpibGlobalsForThread");
    if (library->registerGlobals && !library->unregisterGlobals)
        Require(file, library->unregisterGlobals, "UnregisterGpibGlobalsForThread");
    if (!library->registerGlobals) {
        library->unregisterGlobals = nullptr;
        library->threadIbsta = file.FindFunction<ThreadIntFn*>("ThreadIbsta");
        if (library->threadIbsta) {
            Require(file, library->threadIberr, "ThreadIberr");
            Require(file, library->threadIbcntl, "ThreadIbcntl");
        } else {
            // Neither kind of per-thread status: name what we looked for first.
            library->ibstaVariable = static_cast<int*>(file.Find("ibsta"));
            if (!library->ibstaVariable) Require(file, library->threadIbsta, "ThreadIbsta");
            library->iberrVariable = static_cast<int*>(file.Require("iberr"));
            library->ibcntlVariable = static_cast<long*>(file.Require("ibcntl"));
        }
    }
    library->serviceRequestHandle = file.FindFunction<int (*)()>("TesselGpibSimServiceRequestHandle");
    library->file = std::move(file);
    return library;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

[[noreturn]] void RaiseLoadFailure(const LoadFailure& failure) {
    int32_t number = kErrLibraryFunctionNotFound;
    if (failure.Function.empty())
        number = failure.File.find('/') != std::string::npos && !FileExists(failure.File) ? kErrFileNotFound
                                                                                         : kErrLibraryLoad;
    RaiseError(number, kRuntimeSource, RuntimeErrorText(number) + " (" + failure.what() + ")", {}, 0,
               "choose the GPIB library with tessel::UseGpibLibrary (docs/gpib.md)");
}

std::shared_ptr<const GpibLibrary> Load(const std::string& named) {
    if (!named.empty()) return Resolve(SharedLibrary::Open(named));
    // A system library that is present but unusable is no reason to fall
    // back: its failure says more than the simulator's success would.
    SharedLibrary system;
    try {
        system = SharedLibrary::Open(kSystemLibrary);
    } catch (const LoadFailure&) {
        return Resolve(SharedLibrary::Open(BesideTessel(kSimulatedLibrary)));
    }
    return Resolve(std::move(system));
}

}  // namespace

int GpibLibrary::EndMode(gpib::EndMode mode) const {
    if (NeedsRegistration()) return mode;
    switch (mode) {
        case kNLEnd: return kDABEnd;
        case kDABEnd: return kNLEnd;
        default: return mode;
    }
}

// Raises LoadFailure.
static std::shared_ptr<const GpibLibrary> LoadedOrLoad() {
    LoaderState& state = Loader();
    std::lock_guard lock(state.mu);
    if (!state.loaded) state.loaded = Load(state.named);
    return state.loaded;
}

unsigned GpibLibraryChoice() { return Loader().choice.load(std::memory_order_acquire); }

std::shared_ptr<const GpibLibrary> CurrentGpibLibrary() {
    try {
        return LoadedOrLoad();
    } catch (const LoadFailure& failure) {
        RaiseLoadFailure(failure);
    }
}

}  // namespace tessel::gpib

namespace tessel {

void UseGpibLibrary(std::string_view path) {
    auto& state = gpib::Loader();
    std::lock_guard lock(state.mu);
    state.named = path;
    state.loaded.reset();
    state.choice.fetch_add(1, std::memory_order_acq_rel);
}

std::string GpibLibraryInUse() {
    try {
        return gpib::LoadedOrLoad()->file.Path();
    } catch (const LoadFailure&) {
        return {};
    }
}

}  // namespace tessel
