// A shared object loaded at run time: the GPIB library, the logger library and
// the console's window module are found and resolved through this one type.
//
// Failures are plain C++ exceptions (LoadFailure) that say which file and
// which function; each driver turns them into its own ComError, because the
// number and source differ per driver.
//
// Threads: any thread. dlopen/dlsym are thread-safe; a SharedLibrary object
// itself is not shared between threads without a lock.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tessel {

// What went wrong while loading or resolving: the file, the missing function
// (empty when the file itself failed) and the loader's own words.
class LoadFailure : public std::runtime_error {
public:
    LoadFailure(std::string file, std::string function, std::string reason);
    std::string File;
    std::string Function;
    std::string Reason;
};

class SharedLibrary {
public:
    // Loads path (a full path, or a bare file name for the loader's search).
    // Raises LoadFailure when the loader refuses it.
    static SharedLibrary Open(const std::string& path);

    SharedLibrary() = default;
    SharedLibrary(SharedLibrary&&) noexcept = default;
    SharedLibrary& operator=(SharedLibrary&&) noexcept = default;

    explicit operator bool() const noexcept { return handle_ != nullptr; }
    // The name it was opened under.
    const std::string& Path() const noexcept { return path_; }

    // The address of a symbol, or null when the library does not export it.
    void* Find(const char* name) const noexcept;
    // The address of a symbol; raises LoadFailure naming it when absent.
    void* Require(const char* name) const;

    // A function pointer of type F, resolved by Require.
    template <class F>
    F RequireFunction(const char* name) const {
        return reinterpret_cast<F>(Require(name));
    }
    // A function pointer of type F, or null when absent.
    template <class F>
    F FindFunction(const char* name) const noexcept {
        return reinterpret_cast<F>(Find(name));
    }

private:
    struct Closer {
        void operator()(void* handle) const noexcept;
    };
    std::unique_ptr<void, Closer> handle_;
    std::string path_;
};

// The folder holding libtessel itself (no trailing slash), found from the
// address of this function; companion libraries are installed beside it.
std::string TesselLibraryFolder();

// TesselLibraryFolder() + "/" + file_name.
std::string BesideTessel(std::string_view file_name);

}  // namespace tessel
