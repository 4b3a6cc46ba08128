#include "ports/shared_library.h"

#include <dlfcn.h>

namespace tessel {

LoadFailure::LoadFailure(std::string file, std::string function, std::string reason)
    : std::runtime_error(function.empty() ? "cannot load " + file + ": " + reason
                                          : file + " has no function " + function + ": " + reason),
      File(std::move(file)),
      Function(std::move(function)),
      Reason(std::move(reason)) {}

void SharedLibrary::Closer::operator()(void* handle) const noexcept { ::dlclose(handle); }

SharedLibrary SharedLibrary::Open(const std::string& path) {
    SharedLibrary library;
    library.handle_.reset(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!library.handle_) {
        const char* reason = ::dlerror();
        throw LoadFailure(path, {}, reason ? reason : "unknown loader error");
    }
    library.path_ = path;
    return library;
}

void* SharedLibrary::Find(const char* name) const noexcept {
    if (!handle_) return nullptr;
    return ::dlsym(handle_.get(), name);
}

void* SharedLibrary::Require(const char* name) const {
    if (void* address = Find(name)) return address;
    const char* reason = ::dlerror();
    throw LoadFailure(path_, name, reason ? reason : "not exported");
}

std::string TesselLibraryFolder() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&TesselLibraryFolder), &info) == 0 || !info.dli_fname)
        return ".";
    std::string file = info.dli_fname;
    const auto slash = file.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return file.substr(0, slash);
}

std::string BesideTessel(std::string_view file_name) {
    std::string folder = TesselLibraryFolder();
    if (folder.back() != '/') folder += '/';
    return folder + std::string(file_name);
}

}  // namespace tessel
