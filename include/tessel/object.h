// Objects and their interfaces.
//
// Every class that a host can create (drivers, the interval timer, settings)
// derives from Object and is held by std::shared_ptr: it lives until its last
// reference goes, and its destructor closes what it opened. Interfaces are
// obtained from an object with QueryInterface, which shares the object's
// ownership and returns null when the class does not implement the interface.
//
// The library counts its live objects, so a host that loads it dynamically can
// ask whether unloading it now would leave anything behind.
//
// Threads: an object belongs to the thread that created it; call its members
// only there. The live-object count may be read from any thread.
#pragma once

#include <cstddef>
#include <memory>

#include <tessel/export.h>

namespace tessel {

class TESSEL_API Object {
public:
    Object() noexcept;
    Object(const Object&) noexcept;
    Object& operator=(const Object&) noexcept { return *this; }
    virtual ~Object();
};

// The interface I of obj, sharing obj's ownership; null when obj is null or
// its class does not implement I.
template <class I, class T>
std::shared_ptr<I> QueryInterface(const std::shared_ptr<T>& obj) {
    return std::dynamic_pointer_cast<I>(obj);
}

// Number of Objects alive in this process.
TESSEL_API std::size_t LiveObjectCount() noexcept;

// True when no object of the library is alive, so that unloading it is safe.
TESSEL_API bool CanUnloadNow() noexcept;

}  // namespace tessel
