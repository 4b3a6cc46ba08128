// Errors: every failure in Tessel reaches the caller as a tessel::ComError.
//
// An error carries five fields that always travel together: a 32-bit number,
// the source (which member or transport failed), a description, a help file
// and a help context. Numbers come from three families:
//
//   * the run time's own numbers for conversions and arithmetic
//     (5 invalid procedure call, 6 overflow, 9 subscript out of range,
//     13 type mismatch, 429 unknown class);
//   * a transport's own numbers, e.g. the serial control's 8002 "Invalid Port
//     Number" with source "MSComm";
//   * the library's own errors: kObjectErrorBase (0x80040000) plus a code,
//     e.g. kObjectErrorBase + 2015 for every time-out.
//
// `Detail` is not one of the five fields: it is an optional explanation in
// terms of this machine (the device path, the process holding a port, the
// group that grants access) for people reading the error. Drivers keep the
// five fields exactly as documented and put what they know beyond that there.
//
// Threads: a ComError is a plain value; copy it anywhere.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include <tessel/export.h>

namespace tessel {

class TESSEL_API ComError : public std::exception {
public:
    ComError(int32_t number, std::string source, std::string description,
             std::string helpFile = {}, int32_t helpContext = 0, std::string detail = {});

    int32_t Number;
    std::string Source;
    std::string Description;
    std::string HelpFile;
    int32_t HelpContext;
    std::string Detail;

    // The description, exactly as raised.
    const char* what() const noexcept override { return Description.c_str(); }
};

// The object-error base: the library's own errors are this plus a code.
inline constexpr int32_t kObjectErrorBase = -2147221504;  // 0x80040000

// Codes added to kObjectErrorBase.
enum PortErrorCode : int32_t {
    kErrReturnParameterMissing = 2008,
    kErrEventRegisterClear = 2009,
    kErrQueryError = 2010,
    kErrDeviceDependentError = 2011,
    kErrExecutionError = 2012,
    kErrCommandError = 2013,
    kErrOperationNotComplete = 2014,
    kErrTimedOut = 2015,
    kErrCancelButton = 2020,
    // A reply grew past the port's reply limit (ReplyLimit) before it ended.
    kErrReplyTooLong = 2016,
    // An operator console call found neither a display nor a terminal.
    kErrNoOperatorConsole = 2021,
};

// The run time's numbers for failures of conversions and arithmetic.
enum RuntimeErrorNumber : int32_t {
    kErrInvalidProcedureCall = 5,
    kErrOverflow = 6,
    kErrOutOfMemory = 7,
    kErrSubscriptOutOfRange = 9,
    kErrTypeMismatch = 13,
    kErrBadFileNameOrNumber = 52,
    kErrFileNotFound = 53,
    kErrLibraryLoad = 48,
    kErrInternal = 51,
    kErrObjectNotSet = 91,
    kErrCannotCreateObject = 429,
    kErrLibraryFunctionNotFound = 453,
    kErrMemberNotFound = 438,
    kErrArgumentNotOptional = 449,
    kErrWrongArgumentCount = 450,
};

// Source used by the run-time helpers (conversions, the factory) when no
// member of a driver is involved.
inline constexpr const char* kRuntimeSource = "Tessel";

// The run time's description for one of its numbers ("Overflow" for 6).
TESSEL_API std::string RuntimeErrorText(int32_t number);

// Raises one of the run time's errors through HostErrors, with source
// kRuntimeSource and RuntimeErrorText(number) unless a description is given.
[[noreturn]] TESSEL_API void RaiseRuntimeError(int32_t number, std::string description = {});

}  // namespace tessel
