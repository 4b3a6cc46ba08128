// A logger library that lacks th03_get_version: the loader must refuse it
// whole rather than fail at some later reading.
#include <cstdint>

#include <tessel/export.h>

extern "C" {
TESSEL_API int16_t th03_open_unit(int16_t) { return 1; }
TESSEL_API int16_t th03_set_channel(int16_t, int16_t, int16_t, int16_t) { return 1; }
TESSEL_API int16_t th03_get_temp(int32_t* hundredths, int16_t, int16_t, int16_t) { return *hundredths = 0, 1; }
TESSEL_API int16_t th03_get_cycle(int32_t* cycle, int32_t) { return *cycle = 0, 1; }
TESSEL_API int16_t th03_close_unit(int16_t) { return 1; }
}
