#include "tcpip/socket_errors.h"

#include <cerrno>

#include <asio/error.hpp>

#include <tessel/host.h>

namespace tessel::tcpip {
namespace {

struct ErrnoNumber {
    int linuxErrno;
    int16_t number;
};

// Linux numbers its errno values differently from BSD, whose values the
// classic socket numbers are built on; hence a table, not an offset.
constexpr ErrnoNumber kErrnoNumbers[] = {
    {EACCES, kSocketPermissionDenied},
    {EPERM, kSocketPermissionDenied},
    {EINVAL, kSocketInvalidSystemArgument},
    {EMFILE, kSocketTooManyOpenFiles},
    {ENFILE, kSocketTooManyOpenFiles},
    {EAFNOSUPPORT, kSocketAddressFamily},
    {EADDRINUSE, kSocketAddressInUse},
    {EADDRNOTAVAIL, kSocketAddressNotAvailable},
    {ENETDOWN, kSocketNetworkDown},
    {ENETUNREACH, kSocketNetworkUnreachable},
    {ENETRESET, kSocketNetworkReset},
    {ECONNABORTED, kSocketConnectionAborted},
    {ECONNRESET, kSocketConnectionReset},
    {ENOBUFS, kSocketNoBufferSpace},
    {ENOMEM, kSocketNoBufferSpace},
    {EISCONN, kSocketAlreadyConnected},
    {ENOTCONN, kSocketNotConnected},
    {EPIPE, kSocketShutDown},
    {ESHUTDOWN, kSocketShutDown},
    {ETIMEDOUT, kSocketTimedOut},
    {ECONNREFUSED, kSocketConnectionRefused},
    {EHOSTDOWN, kSocketHostDown},
    {EHOSTUNREACH, kSocketHostUnreachable},
};

}  // namespace

int16_t SocketErrorNumber(const std::error_code& ec) {
    if (ec.category() == asio::error::get_netdb_category()) {
        switch (ec.value()) {
        case asio::error::host_not_found: return kSocketHostNotFound;
        case asio::error::host_not_found_try_again: return kSocketTryAgain;
        case asio::error::no_recovery: return kSocketNoRecovery;
        case asio::error::no_data: return kSocketNoData;
        default: return kSocketSystemFailure;
        }
    }
    if (ec.category() == asio::error::get_addrinfo_category()) return kSocketHostNotFound;
    if (ec.category() == asio::error::get_system_category() || ec.category() == std::system_category() ||
        ec.category() == std::generic_category()) {
        for (const auto& entry : kErrnoNumbers)
            if (entry.linuxErrno == ec.value()) return entry.number;
    }
    return kSocketSystemFailure;
}

std::string SocketErrorText(int16_t number, const std::string& host, int32_t port, const std::error_code& ec) {
    const std::string where = host + ":" + std::to_string(port);
    const std::string name = "\"" + host + "\"";
    switch (number) {
    case kSocketPermissionDenied: return "The system does not permit connecting to " + where;
    case kSocketInvalidSystemArgument: return "The system refused an argument of the connection to " + where;
    case kSocketTooManyOpenFiles: return "Too many open files: no socket left for a connection to " + where;
    case kSocketAddressFamily: return "The address of " + where + " is of a kind this machine cannot use";
    case kSocketAddressInUse: return "No local port is free for a connection to " + where;
    case kSocketAddressNotAvailable: return "The address " + where + " cannot be connected to";
    case kSocketNetworkDown: return "The network is down: cannot reach " + where;
    case kSocketNetworkUnreachable: return "The network of " + host + " is unreachable from this machine";
    case kSocketNetworkReset: return "The network dropped the connection to " + where;
    case kSocketConnectionAborted: return "This machine aborted the connection to " + where;
    case kSocketConnectionReset: return "The connection was reset by " + where;
    case kSocketNoBufferSpace: return "The system has no buffer space left for the connection to " + where;
    case kSocketAlreadyConnected: return "The socket is already connected to " + where;
    case kSocketNotConnected: return "The socket is not connected to " + where;
    case kSocketShutDown: return "The connection to " + where + " is gone: nothing more can be sent";
    case kSocketTimedOut: return "Connecting to " + where + " timed out: the host did not answer";
    case kSocketConnectionRefused: return "Connection refused by " + where + ": nothing listens on that port";
    case kSocketHostDown: return "The host " + host + " is down";
    case kSocketHostUnreachable: return "No route to the host " + host;
    case kSocketHostNotFound: return "Host not found: no address is known for " + name;
    case kSocketTryAgain: return "The name server did not answer for " + name + "; try again later";
    case kSocketNoRecovery: return "The name server failed to look up " + name;
    case kSocketNoData: return "The name " + name + " has no address that can be connected to";
    default: {
        std::string text = "Socket failure on the connection to " + where;
        if (ec) text += ": " + ec.message() + " (" + ec.category().name() + " " + std::to_string(ec.value()) + ")";
        return text;
    }
    }
}

void RaiseSocketError(int16_t number, const std::string& description) {
    RaiseError(number, kSocketSource, description);
}

}  // namespace tessel::tcpip
