// The TH-03 logger library as clsTH03 calls it: loaded on the first call,
// every call made under one lock.
//
// Loading raises 53 "File not found", 48 "Error in loading DLL" or 453
// "Specified DLL function not found" (source "Tessel", Detail naming the file
// and the function); callers raise them again with their own source.
//
// Threads: any thread; calls of all threads into the library are serialised,
// because a vendor's library owes us no thread safety.
#pragma once

#include <cstdint>

namespace tessel::th03 {

int16_t OpenUnit(int16_t port);
void SetChannel(int16_t port, int16_t channel, int16_t sensor, int16_t filter_factor);
int16_t GetTemp(int32_t& hundredths, int16_t port, int16_t channel, int16_t filter_factor);
int16_t GetCycle(int32_t& cycle, int32_t port);
int16_t GetVersion(int32_t& version, int32_t port);
void CloseUnit(int16_t port);

}  // namespace tessel::th03
