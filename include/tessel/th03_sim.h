/* The simulated TH-03 logger library, libth0332.so: the six functions of the
   logger library that clsTH03 loads (<tessel/th03.h>), over simulated
   loggers, plus this control API for tests and demonstrations.

   Loggers sit on COM port numbers. After loading (and after th03sim_reset)
   there is one logger on COM1 and one on COM2, none open; a port without a
   logger fails to open. Each logger has three channels; a reading depends on
   the sensor type its channel was set to: temperatures near 21 degrees that
   drift slowly with time, a light level, a door switch (0 or 1), and no
   reading at all for "Off" (0). Every reading advances the logger's cycle
   number, which starts at 1 when the logger is opened; the version number
   is 3. A logger may be opened more than once (each open needs a close).

   Link it (Tessel::th03_sim, or -lth0332) to reach this API; clsTH03 loads
   the same file, so both see the same loggers.

   Threads: every function may be called from any thread; each runs under
   one lock and returns at once. */
#ifndef TESSEL_TH03_SIM_H
#define TESSEL_TH03_SIM_H

#include <stddef.h>
#include <stdint.h>

#include <tessel/export.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Back to the state after loading: loggers on COM1 and COM2, none open,
   nothing queued, an empty call log. */
TESSEL_API void th03sim_reset(void);
/* Places a logger on `port` (closed); harmless when there is one. */
TESSEL_API void th03sim_plug(int16_t port);
/* Pulls the logger off `port`: opening fails from now on, and a logger that
   was open gives no readings, cycle or version (its closes still succeed). */
TESSEL_API void th03sim_unplug(int16_t port);
/* The next reading of `channel` (1..3) on `port` is `hundredths`, whatever
   the sensor type (-512 reads -5.12 degrees). */
TESSEL_API void th03sim_set_next_reading(int16_t port, int16_t channel, int32_t hundredths);
/* The next reading, cycle or version asked of `port` fails: the function
   returns 0 after writing 7777 into the result cell. */
TESSEL_API void th03sim_fail_next_read(int16_t port);
/* Opens of `port` not yet closed. */
TESSEL_API int32_t th03sim_open_count(int16_t port);
/* How many calls of the logger function `function` ("th03_open_unit") are in
   the log. */
TESSEL_API int32_t th03sim_calls(const char* function);
/* The log of calls of the six functions, one line each, oldest first, as
   "th03_set_channel(1, 2, 1, 10) = 1": copied into buffer (at most size
   bytes, always terminated when size > 0). Returns the length of the whole
   log, which may exceed size - 1. */
TESSEL_API size_t th03sim_call_log(char* buffer, size_t size);
/* Empties the log. */
TESSEL_API void th03sim_clear_log(void);

#ifdef __cplusplus
}
#endif

#endif
