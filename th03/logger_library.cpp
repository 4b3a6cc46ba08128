#include "th03/logger_library.h"

#include <filesystem>
#include <mutex>
#include <string>

#include <tessel/error.h>
#include <tessel/host.h>
#include <tessel/th03.h>

#include "ports/shared_library.h"
#include "th03/logger_api.h"

namespace tessel::th03 {
namespace {

constexpr const char* kLibraryFile = "libth0332.so";

struct Loader {
    std::mutex lock;
    std::string named_path;  // empty: kLibraryFile beside libtessel
    SharedLibrary library;
    decltype(&th03_open_unit) open_unit = nullptr;
    decltype(&th03_set_channel) set_channel = nullptr;
    decltype(&th03_get_temp) get_temp = nullptr;
    decltype(&th03_get_cycle) get_cycle = nullptr;
    decltype(&th03_get_version) get_version = nullptr;
    decltype(&th03_close_unit) close_unit = nullptr;
    // Loggers opened through `library` and not closed yet, by every thread:
    // while there are any, the library must stay.
    int open_units = 0;
};

Loader& State() {
    static Loader loader;
    return loader;
}

std::string PathOf(const Loader& loader) {
    return loader.named_path.empty() ? BesideTessel(kLibraryFile) : loader.named_path;
}

[[noreturn]] void RaiseLoadError(int32_t number, const std::string& detail) {
    RaiseError(number, kRuntimeSource, RuntimeErrorText(number), {}, 0, detail);
}

// All six functions are resolved at once, so that an incomplete library is
// refused when a logger goes on-line rather than at some later reading.
void Load(Loader& loader) {
    if (loader.library) return;
    const std::string path = PathOf(loader);
    std::error_code ignored;
    if (!std::filesystem::exists(path, ignored)) RaiseLoadError(kErrFileNotFound, "no logger library at " + path);
    Loader resolved;
    try {
        resolved.library = SharedLibrary::Open(path);
    } catch (const LoadFailure& failure) {
        RaiseLoadError(kErrLibraryLoad, failure.what());
    }
    try {
        const SharedLibrary& lib = resolved.library;
        resolved.open_unit = lib.RequireFunction<decltype(&th03_open_unit)>("th03_open_unit");
        resolved.set_channel = lib.RequireFunction<decltype(&th03_set_channel)>("th03_set_channel");
        resolved.get_temp = lib.RequireFunction<decltype(&th03_get_temp)>("th03_get_temp");
        resolved.get_cycle = lib.RequireFunction<decltype(&th03_get_cycle)>("th03_get_cycle");
        resolved.get_version = lib.RequireFunction<decltype(&th03_get_version)>("th03_get_version");
        resolved.close_unit = lib.RequireFunction<decltype(&th03_close_unit)>("th03_close_unit");
    } catch (const LoadFailure& failure) {
        RaiseLoadError(kErrLibraryFunctionNotFound, failure.what());
    }
    loader.library = std::move(resolved.library);
    loader.open_unit = resolved.open_unit;
    loader.set_channel = resolved.set_channel;
    loader.get_temp = resolved.get_temp;
    loader.get_cycle = resolved.get_cycle;
    loader.get_version = resolved.get_version;
    loader.close_unit = resolved.close_unit;
}

template <class F>
decltype(auto) Call(F&& call) {
    Loader& loader = State();
    std::lock_guard guard(loader.lock);
    Load(loader);
    return call(loader);
}

}  // namespace

int16_t OpenUnit(int16_t port) {
    return Call([&](Loader& loader) {
        const int16_t result = loader.open_unit(port);
        if (result > 0) ++loader.open_units;
        return result;
    });
}

void SetChannel(int16_t port, int16_t channel, int16_t sensor, int16_t filter_factor) {
    Call([&](Loader& loader) { loader.set_channel(port, channel, sensor, filter_factor); });
}

int16_t GetTemp(int32_t& hundredths, int16_t port, int16_t channel, int16_t filter_factor) {
    return Call([&](Loader& loader) { return loader.get_temp(&hundredths, port, channel, filter_factor); });
}

int16_t GetCycle(int32_t& cycle, int32_t port) {
    return Call([&](Loader& loader) { return loader.get_cycle(&cycle, port); });
}

int16_t GetVersion(int32_t& version, int32_t port) {
    return Call([&](Loader& loader) { return loader.get_version(&version, port); });
}

void CloseUnit(int16_t port) {
    Call([&](Loader& loader) {
        loader.close_unit(port);
        --loader.open_units;
    });
}

}  // namespace tessel::th03

namespace tessel {

void UseTH03Library(const std::string& path) {
    th03::Loader& loader = th03::State();
    std::lock_guard guard(loader.lock);
    if (loader.open_units > 0)
        RaiseError(kErrInvalidProcedureCall, kRuntimeSource, RuntimeErrorText(kErrInvalidProcedureCall), {}, 0,
                   std::to_string(loader.open_units) + " logger(s) are open through " + th03::PathOf(loader));
    loader.library = SharedLibrary();
    loader.named_path = path;
}

std::string TH03LibraryPath() {
    th03::Loader& loader = th03::State();
    std::lock_guard guard(loader.lock);
    return th03::PathOf(loader);
}

}  // namespace tessel
