// Loading the GPIB library: which file, its functions, and which kind of
// library it is.
//
// Order of choice: the file the host named (UseGpibLibrary), else an
// installed system library with the standard C API (libgpib.so.0), else our
// simulated library beside libtessel. Kinds: a library that exports the
// registration pair writes each thread's status into registered cells and
// numbers Send's end modes as gpib_api.h does; one without the pair publishes
// the status through per-thread functions (or, failing those, variables) and
// swaps end modes 1 and 2.
//
// Threads: any thread; the choice is process-wide and guarded by a lock.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "gpib/gpib_api.h"
#include "ports/shared_library.h"

namespace tessel::gpib {

struct GpibLibrary {
    SharedLibrary file;
    IbfindFn* ibfind = nullptr;
    IbsicFn* ibsic = nullptr;
    IbdevFn* ibdev = nullptr;
    IbonlFn* ibonl = nullptr;
    IbtmoFn* ibtmo = nullptr;
    IbeotFn* ibeot = nullptr;
    IbwrtFn* ibwrt = nullptr;
    IbrdFn* ibrd = nullptr;
    IbwaitFn* ibwait = nullptr;
    FindLstnFn* findLstn = nullptr;
    AddressListFn* setRWLS = nullptr;
    AddressListFn* enableRemote = nullptr;
    AddressListFn* enableLocal = nullptr;
    SendFn* send = nullptr;
    ReceiveFn* receive = nullptr;
    ReadStatusByteFn* readStatusByte = nullptr;
    // Present together, or both null: the library needs no registration.
    RegisterGlobalsFn* registerGlobals = nullptr;
    UnregisterGlobalsFn* unregisterGlobals = nullptr;
    // Without registration: the status functions, else the variables.
    ThreadIntFn* threadIbsta = nullptr;
    ThreadIntFn* threadIberr = nullptr;
    ThreadLongFn* threadIbcntl = nullptr;
    int* ibstaVariable = nullptr;
    int* iberrVariable = nullptr;
    long* ibcntlVariable = nullptr;
    // Our simulated library's wake-up descriptor; null for other libraries.
    int (*serviceRequestHandle)() = nullptr;

    bool NeedsRegistration() const { return registerGlobals != nullptr; }
    // Send's end mode in this library's numbering.
    int EndMode(EndMode mode) const;
};

// The library in use, loaded on first need. Raises ComError through the
// thread's HostErrors when it cannot be loaded: 53 "File not found" for a
// named file that does not exist, 48 "Error in loading DLL" for one the
// loader refuses, 453 "Specified DLL function not found" for a missing
// function; the description names the file and the function.
std::shared_ptr<const GpibLibrary> CurrentGpibLibrary();

// Changes whenever the host chooses a library: a caller that keeps the
// library it got may use it for as long as this stays the same.
unsigned GpibLibraryChoice();

}  // namespace tessel::gpib
