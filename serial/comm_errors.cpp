#include "serial/comm_errors.h"

#include <tessel/host.h>

namespace tessel::serial {

std::string CommErrorText(int16_t code) {
    switch (code) {
    case kCommInvalidPropertyValue: return "Invalid property value";
    case kCommSetNotSupported:
    case kCommGetNotSupported: return "Property is read-only";
    case kCommPortOpened: return "Operation not valid while the port is opened";
    case kCommInvalidTimeout: return "Timeout value must be greater than zero";
    case kCommInvalidPortNumber: return "Invalid Port Number";
    case kCommRunTimeOnly: return "Property available only at run time";
    case kCommReadOnlyAtRunTime: return "Property is read only at runtime";
    case kCommPortAlreadyOpen: return "Port already open";
    case kCommInvalidDeviceId: return "The device identifier is invalid or unsupported";
    // The blank before the apostrophe is the control's own text; hosts match it.
    case kCommBaudUnsupported: return "The device 's baud rate is unsupported";
    case kCommInvalidByteSize: return "The specified byte size is invalid";
    case kCommDefaultParametersError: return "The default parameters are in error";
    case kCommHardwareUnavailable: return "The hardware is not available (locked by another device)";
    case kCommCannotAllocateQueues: return "The function cannot allocate the queues";
    case kCommDeviceNotOpen: return "The device is not open";
    case kCommDeviceAlreadyOpen: return "The device is already open";
    case kCommCannotEnableNotification: return "Could not enable comm notification";
    case kCommSetStateFailed: return "Could not set comm state";
    case kCommCannotSetEventMask: return "Could not set comm event mask";
    case kCommPortNotOpen: return "Operation valid only when the port is open";
    case kCommDeviceBusy: return "Device busy";
    case kCommReadError: return "Error reading comm device";
    case kCommDeviceControlBlockError: return "Internal error retrieving device control block for the port";
    default: return "Unrecognised error code";
    }
}

void RaiseCommError(int16_t code, std::string detail) {
    RaiseError(code, "MSComm", CommErrorText(code), {}, 0, detail);
}

}  // namespace tessel::serial
