// The six functions of the TH-03 logger library, with the argument widths its
// callers use. The loader resolves them by these names; the simulated
// library (th03/sim) and any replacement export them.
#pragma once

#include <cstdint>

#include <tessel/export.h>

extern "C" {
// Greater than 0 when the logger on `port` is open.
TESSEL_API int16_t th03_open_unit(int16_t port);
// Selects channel 1..3, its sensor type and filter factor. Result unused.
TESSEL_API int16_t th03_set_channel(int16_t port, int16_t channel, int16_t sensor, int16_t filter_factor);
// Greater than 0 when *hundredths holds the channel's reading.
TESSEL_API int16_t th03_get_temp(int32_t* hundredths, int16_t port, int16_t channel, int16_t filter_factor);
// Greater than 0 when *cycle holds the logger's cycle number.
TESSEL_API int16_t th03_get_cycle(int32_t* cycle, int32_t port);
// Greater than 0 when *version holds the logger's version number.
TESSEL_API int16_t th03_get_version(int32_t* version, int32_t port);
// Result unused.
TESSEL_API int16_t th03_close_unit(int16_t port);
}
