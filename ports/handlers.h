// The error handlers of driver members.
//
// A member runs each of its steps under one of two handlers: the general
// handler raises an escaping error again with the member's own source, the
// transport handler with the transport's source ("MSComm", "Winsock") and a
// description of the transport's choosing. Number, help file, help context
// and detail always travel on unchanged. Code that raises an error the member
// detected itself, or calls a nested member whose errors must reach the
// caller unchanged, runs outside both.
#pragma once

#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include <tessel/error.h>
#include <tessel/format.h>
#include <tessel/host.h>

namespace tessel {

[[noreturn]] inline void Reraise(const ComError& e, std::string_view source, const std::string& description) {
    RaiseError(e.Number, std::string(source), description, e.HelpFile, e.HelpContext, e.Detail);
}

// Raises the library's time-out error, kObjectErrorBase + 2015, as a member
// detected it: with its own source, outside both handlers.
[[noreturn]] inline void RaiseTimedOut(std::string_view source, const std::string& description) {
    RaiseError(kObjectErrorBase + kErrTimedOut, std::string(source), description);
}

// A time-out description that names the wait: lead + "2.5" + " seconds".
inline std::string TimedOutAfter(std::string_view lead, const Variant& seconds) {
    return std::string(lead) + FormatValue(seconds) + " seconds";
}

// Raises kObjectErrorBase + kErrReplyTooLong for a reply that grew past
// the port's limit, as the member detected it.
[[noreturn]] inline void RaiseReplyTooLong(std::string_view source, int32_t limitBytes) {
    RaiseError(kObjectErrorBase + kErrReplyTooLong, std::string(source),
               "Reply longer than " + std::to_string(limitBytes) + " bytes");
}

// A reply limit a host asks for: 5 below one byte, raised by the run time
// (the member's general handler gives it the member's source).
inline int32_t CheckedReplyLimit(int32_t bytes) {
    if (bytes < 1) RaiseRuntimeError(kErrInvalidProcedureCall);
    return bytes;
}

// The Count of a block transfer: the block's elements plus `extra` bytes.
// An array whose upper bound does not fit 32 bits cannot be indexed (9), a
// total that does not fit is an overflow (6); both raised by the run time.
inline int32_t BlockCount(const ByteArray& block, std::size_t extra) {
    constexpr auto kMost = static_cast<std::size_t>(std::numeric_limits<int32_t>::max());
    const std::size_t elements = block.bytes.size();
    if (block.lowerBound > 0 && elements > kMost - static_cast<std::size_t>(block.lowerBound) + 1)
        RaiseRuntimeError(kErrSubscriptOutOfRange);
    if (elements > kMost || extra > kMost - elements) RaiseRuntimeError(kErrOverflow);
    return static_cast<int32_t>(elements + extra);
}

template <class F>
decltype(auto) WithGeneralHandler(std::string_view source, F&& fn) {
    try {
        return std::forward<F>(fn)();
    } catch (const ComError& e) {
        Reraise(e, source, e.Description);
    } catch (const std::bad_alloc&) {
        RaiseError(kErrOutOfMemory, std::string(source), RuntimeErrorText(kErrOutOfMemory));
    }
}

// describe(const ComError&) -> std::string gives the re-raised description.
template <class Describe, class F>
decltype(auto) WithTransportHandler(std::string_view source, Describe&& describe, F&& fn) {
    try {
        return std::forward<F>(fn)();
    } catch (const ComError& e) {
        Reraise(e, source, describe(e));
    }
}

}  // namespace tessel
