// TESSEL_API marks what a Tessel shared object exports (libtessel, and
// libtessel-sim for <tessel/sim.h>). They are built with hidden visibility, so
// a class or function without it stays internal.
#pragma once

#if defined(__GNUC__)
#define TESSEL_API __attribute__((visibility("default")))
#else
#define TESSEL_API
#endif

// TESSEL_INTERNAL marks a private member of an exported class that only the
// library itself calls, so that it stays out of what the library exports.
#if defined(__GNUC__)
#define TESSEL_INTERNAL __attribute__((visibility("hidden")))
#else
#define TESSEL_INTERNAL
#endif
