// TESSEL_API marks what libtessel exports. The library is built with hidden
// visibility, so a class or function without it stays internal.
#pragma once

#if defined(__GNUC__)
#define TESSEL_API __attribute__((visibility("default")))
#else
#define TESSEL_API
#endif
