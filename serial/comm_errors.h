// The serial control's error numbers and their fixed descriptions.
//
// Every error the serial layer raises carries source "MSComm" and the
// description of its number from CommErrorText, so that a host comparing
// descriptions sees the control's own wording; what happened on this machine
// goes into the error's Detail.
#pragma once

#include <cstdint>
#include <string>

namespace tessel::serial {

enum CommErrorCode : int16_t {
    kCommInvalidPropertyValue = 380,
    kCommSetNotSupported = 383,
    kCommGetNotSupported = 394,
    kCommPortOpened = 8000,               // operation not valid while open
    kCommInvalidTimeout = 8001,
    kCommInvalidPortNumber = 8002,
    kCommRunTimeOnly = 8003,
    kCommReadOnlyAtRunTime = 8004,
    kCommPortAlreadyOpen = 8005,
    kCommInvalidDeviceId = 8006,
    kCommBaudUnsupported = 8007,
    kCommInvalidByteSize = 8008,
    kCommDefaultParametersError = 8009,
    kCommHardwareUnavailable = 8010,      // held by another opener, or no permission
    kCommCannotAllocateQueues = 8011,
    kCommDeviceNotOpen = 8012,
    kCommDeviceAlreadyOpen = 8013,
    kCommCannotEnableNotification = 8014,
    kCommSetStateFailed = 8015,
    kCommCannotSetEventMask = 8016,
    kCommPortNotOpen = 8018,              // operation valid only when open
    kCommDeviceBusy = 8019,
    kCommReadError = 8020,                // also raised for failed writes
    kCommDeviceControlBlockError = 8021,
};

// The control's description for code; "Unrecognised error code" for numbers
// it has none for (0 and 8017 among them).
std::string CommErrorText(int16_t code);

// Raises code through the thread's HostErrors with source "MSComm", the
// description CommErrorText(code) and detail as the error's Detail.
[[noreturn]] void RaiseCommError(int16_t code, std::string detail);

}  // namespace tessel::serial
