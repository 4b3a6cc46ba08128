// The socket control: one TCP client connection behind the members the
// TCP/IP driver's host form uses (remote host and port, state, connect,
// close, send and get data) and the events it relays.
//
// Connect returns at once; looking the host up and connecting happen on the
// thread's message loop, the state passing 4 (resolving), 5 (resolved),
// 6 (connecting) to 7 (connected), or to 9 (error) with an Error event. A
// dotted address is not looked up, but passes through the same states. Once
// connected, TCP_NODELAY is on: a block sent in pieces (command, data, LF)
// would otherwise wait for the delayed acknowledgement of its first piece.
//
// Received bytes are taken from the socket as they arrive and kept until
// GetData (or Take, AppendTo) takes them; beyond kReceiveLimit waiting bytes the control stops
// reading, so that TCP's flow control holds the rest and nothing is lost.
// Bytes handed to SendData are queued and written as the socket takes them;
// SendComplete follows once everything queued has been handed to the system.
// A peer that closes its side moves the state to 8 and raises Close; what it
// sent before stays readable. A connection that fails moves it to 9 and raises
// Error; what was received stays readable there too, SendData then raises
// that failure again, and every other
// operation of that connection ends unseen: one failure, one Error event.
// Close drops everything and the state is 0 when it returns; nothing of the
// closed connection is raised afterwards. Connecting to the unspecified
// address (0.0.0.0, ::) fails with 10049; a host name with a NUL character in
// it is refused (kSocketInvalidArgument).
//
// Refusals: a member called in a state that does not allow it, or with an
// argument it cannot use, raises ComError at once with source "Winsock"
// (kSocketWrongState, kSocketInvalidArgument). Failures found later arrive as
// the Error event, with the classic socket numbers (tcpip/socket_errors.h).
//
// Events are raised only from the thread's message loop, while its thread
// yields: never from inside a member, never from another thread. A handler
// may call any member, Close included, and may destroy the control.
//
// Threads: the control belongs to the thread whose loop it was created on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <asio/ip/tcp.hpp>

#include <tessel/variant.h>

#include "ports/connection.h"
#include "ports/event_loop.h"

namespace tessel::tcpip {

enum SocketState : int16_t {
    kStateClosed = 0,
    kStateOpen = 1,
    kStateListening = 2,
    kStateConnectionPending = 3,
    kStateResolvingHost = 4,
    kStateHostResolved = 5,
    kStateConnecting = 6,
    kStateConnected = 7,
    kStatePeerClosing = 8,
    kStateError = 9,
};

// Type codes of GetData.
enum DataType : int16_t {
    kDataText = 8,       // text, one character per byte
    kDataBytes = 8209,   // array of bytes indexed from 0
};

inline constexpr std::size_t kReceiveLimit = std::size_t{1} << 20;

// Scode of the Error event: the control facility's error code for the number.
inline constexpr int32_t ScodeOf(int16_t number) {
    return static_cast<int32_t>(0x800A0000u | static_cast<uint16_t>(number));
}

class SocketControl {
public:
    explicit SocketControl(std::shared_ptr<EventLoop> loop);
    // Closes the connection; no event follows.
    ~SocketControl();
    SocketControl(const SocketControl&) = delete;
    SocketControl& operator=(const SocketControl&) = delete;

    int16_t State() const { return state_; }

    // Where the next Connect goes. Either may be changed at any time; a
    // connection already made or being made is not affected.
    const std::string& RemoteHost() const { return host_; }
    void RemoteHost(std::string host) { host_ = std::move(host); }
    int32_t RemotePort() const { return port_; }
    // 0 to 65535; anything else is refused.
    void RemotePort(int32_t port);

    // Received bytes waiting for GetData.
    int32_t BytesReceived() const { return static_cast<int32_t>(received_.size() - head_); }

    // Starts connecting to RemoteHost:RemotePort. Allowed when closed (0) or
    // after a failure (9); needs a host and a port from 1 to 65535.
    void Connect();
    // Drops the connection, or the attempt, and every byte sent or received
    // that is still waiting. Allowed in every state.
    void Close();

    // Queues text (one byte per character) or a byte array for sending.
    // Allowed only while connected (7).
    void SendData(const Variant& data);

    // Takes waiting bytes into `data`: as text (type kDataText) or as a byte
    // array (kDataBytes); without a type, as text when `data` already holds
    // text and as a byte array otherwise. At most maxLen bytes when it is
    // given (at least 1), else all. What is taken is removed. With nothing
    // waiting the result is empty. Allowed in every state.
    void GetData(Variant& data, const Variant& type = Variant::Missing(),
                 const Variant& maxLen = Variant::Missing());

    // Takes waiting bytes straight into `into`, at most its size; the number
    // taken. For readers inside the library that need no Variant. When the
    // waiting bytes run out first and no read is under way, it reads what
    // the socket holds straight into the rest, without waiting: those bytes
    // never wait here and raise no DataArrival.
    std::size_t Take(std::span<uint8_t> into);
    // Appends at most `most` waiting bytes to text; the number taken.
    std::size_t AppendTo(std::string& text, std::size_t most);

    // ---- events ----
    // The peer closed the connection.
    std::function<void()> OnClose;
    // The connection is established.
    std::function<void()> OnConnect;
    // New bytes arrived; bytesTotal is BytesReceived now.
    std::function<void(int32_t bytesTotal)> OnDataArrival;
    // The connection failed. Whatever the handler writes into Description
    // and CancelDisplay is what the control then uses.
    std::function<void(int16_t Number, std::string& Description, int32_t Scode, const std::string& Source,
                       const std::string& HelpFile, int32_t HelpContext, bool& CancelDisplay)>
        OnError;
    // Everything queued has been handed to the system.
    std::function<void()> OnSendComplete;
    // Part of the queue has been written and more remains.
    std::function<void(int32_t bytesSent, int32_t bytesRemaining)> OnSendProgress;

    // How an error is shown that no Error handler cancelled (CancelDisplay
    // left false). The control has no window of its own: by default such an
    // error is shown nowhere.
    std::function<void(int16_t Number, const std::string& Description)> Display;

private:
    struct Link;

    // Where the connection stands, in words for a refusal's description.
    std::string Situation() const;
    void StartConnecting(std::vector<asio::ip::tcp::endpoint> endpoints);
    void OnConnected(Link& link, const std::error_code& ec);
    void StartRead();
    void OnRead(const std::error_code& ec, std::size_t n);
    // Every byte that comes from the peer passes here.
    void Arrived(const char* bytes, std::size_t n);
    void TraceReceived(const char* bytes, std::size_t n) const;
    std::size_t ReadStraight(std::span<uint8_t> into);
    void Consumed(std::size_t n);
    void ClearReceived() noexcept;
    void StartWrite();
    // Every byte sent passes here: hands the system what it takes now.
    std::size_t Transmit(Link& link, std::error_code& ec);
    void OnWritten(Link& link, const std::error_code& ec, std::size_t n);
    void Fail(const std::error_code& ec);
    void RaiseError(int16_t number, std::string description);
    void Drop() noexcept;

    std::shared_ptr<EventLoop> loop_;
    int16_t state_ = kStateClosed;
    std::string host_;
    int32_t port_ = 0;
    // The host and port of the current connection, for descriptions.
    std::string linkHost_;
    int32_t linkPort_ = 0;

    // The connection; its handlers hold it only weakly (ports/connection.h).
    Connection<Link> link_;
    std::string received_;
    std::size_t head_ = 0;     // received_ before it has been taken
    std::string pending_;      // queued, not yet handed to the system
    std::size_t sentHead_ = 0;  // pending_ before it has been handed over
    std::pair<int16_t, std::string> failure_;  // number and description of the failure (state 9)
};

}  // namespace tessel::tcpip
