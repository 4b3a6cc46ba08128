#include "tcpip/socket_control.h"

#include <algorithm>
#include <array>

#include <asio/connect.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>

#include "ports/trace_hook.h"
#include "tcpip/socket_errors.h"

namespace tessel::tcpip {

using asio::ip::tcp;

struct SocketControl::Link {
    explicit Link(asio::io_context& io) : resolver(io), socket(io) {}
    tcp::resolver resolver;
    tcp::socket socket;
    std::array<char, 65536> in{};
    std::string out;  // the bytes of the write in flight
};

SocketControl::SocketControl(std::shared_ptr<EventLoop> loop) : loop_(std::move(loop)) {}

SocketControl::~SocketControl() { Drop(); }

void SocketControl::RemotePort(int32_t port) {
    if (port < 0 || port > 65535)
        RaiseSocketError(kSocketInvalidArgument, "RemotePort must be 0 to 65535, not " + std::to_string(port));
    port_ = port;
}

std::string SocketControl::Situation() const {
    const std::string where = linkHost_ + ":" + std::to_string(linkPort_);
    switch (state_) {
    case kStateClosed: return "the socket is closed";
    case kStateResolvingHost: return "the socket is still looking up " + linkHost_;
    case kStateHostResolved:
    case kStateConnecting: return "the socket is still connecting to " + where;
    case kStateConnected: return "the socket is already connected to " + where;
    case kStatePeerClosing: return where + " has closed the connection";
    case kStateError: return "the connection to " + where + " has failed";
    default: return "the socket is in state " + std::to_string(state_);
    }
}

void SocketControl::Connect() {
    if (state_ != kStateClosed && state_ != kStateError)
        RaiseSocketError(kSocketWrongState, "Cannot connect: " + Situation() + "; close it first");
    if (host_.empty()) RaiseSocketError(kSocketInvalidArgument, "Cannot connect: no remote host is set");
    if (port_ < 1)
        RaiseSocketError(kSocketInvalidArgument,
                         "Cannot connect: the remote port must be 1 to 65535, not " + std::to_string(port_));

    Drop();
    received_.clear();
    auto link = std::make_shared<Link>(loop_->Context());
    link_ = link;
    linkHost_ = host_;
    linkPort_ = port_;
    state_ = kStateResolvingHost;

    asio::error_code notAnAddress;
    const auto address = asio::ip::make_address(host_, notAnAddress);
    if (!notAnAddress) {
        const tcp::endpoint endpoint(address, static_cast<uint16_t>(port_));
        asio::post(loop_->Context(), [this, alive = Token(), link, endpoint] {
            if (alive.expired() || link != link_) return;
            StartConnecting(link, {endpoint});
        });
        return;
    }
    link->resolver.async_resolve(
        host_, std::to_string(port_), tcp::resolver::numeric_service,
        [this, alive = Token(), link](const std::error_code& ec, const tcp::resolver::results_type& results) {
            if (alive.expired() || link != link_) return;
            if (ec) {
                Fail(ec);
                return;
            }
            std::vector<tcp::endpoint> endpoints;
            for (const auto& entry : results) endpoints.push_back(entry.endpoint());
            StartConnecting(link, std::move(endpoints));
        });
}

void SocketControl::StartConnecting(const std::shared_ptr<Link>& link, std::vector<tcp::endpoint> endpoints) {
    state_ = kStateHostResolved;
    // Connecting starts from the loop, so that "resolved" is a state a
    // caller between two yields can see, as with a looked-up name.
    asio::post(loop_->Context(), [this, alive = Token(), link, endpoints = std::move(endpoints)] {
        if (alive.expired() || link != link_) return;
        state_ = kStateConnecting;
        asio::async_connect(link->socket, endpoints,
                            [this, alive, link](const std::error_code& ec, const tcp::endpoint&) {
                                if (alive.expired() || link != link_) return;
                                OnConnected(link, ec);
                            });
    });
}

void SocketControl::OnConnected(const std::shared_ptr<Link>& link, const std::error_code& ec) {
    if (ec) {
        Fail(ec);
        return;
    }
    std::error_code ignored;
    link->socket.set_option(tcp::no_delay(true), ignored);  // only slower without it
    // A send hands the system what it takes at once and never blocks.
    link->socket.non_blocking(true, ignored);
    state_ = kStateConnected;
    StartRead();
    if (OnConnect) OnConnect();
}

void SocketControl::StartRead() {
    if (!link_ || reading_ || state_ != kStateConnected || received_.size() >= kReceiveLimit) return;
    reading_ = true;
    link_->socket.async_read_some(asio::buffer(link_->in),
                                  [this, alive = Token(), link = link_](const std::error_code& ec, std::size_t n) {
                                      if (alive.expired() || link != link_) return;
                                      OnRead(link, ec, n);
                                  });
}

void SocketControl::OnRead(const std::shared_ptr<Link>& link, const std::error_code& ec, std::size_t n) {
    reading_ = false;
    if (ec == asio::error::eof) {
        state_ = kStatePeerClosing;
        if (OnClose) OnClose();
        return;
    }
    if (ec) {
        Fail(ec);
        return;
    }
    TraceTransfer(TraceDirection::Received, [&] { return linkHost_ + ":" + std::to_string(linkPort_); },
                  link->in.data(), n);
    received_.append(link->in.data(), n);
    StartRead();
    if (OnDataArrival) OnDataArrival(BytesReceived());
}
void SocketControl::SendData(const Variant& data) {
    if (state_ != kStateConnected) RaiseSocketError(kSocketWrongState, "Cannot send: " + Situation());
    const std::size_t queued = pending_.size();
    if (data.Type() == VarType::String) {
        pending_ += data.ToString();
    } else if (data.Type() == VarType::Bytes) {
        const auto& bytes = data.AsBytes().bytes;
        pending_.append(bytes.begin(), bytes.end());
    } else {
        RaiseSocketError(kSocketInvalidArgument,
                         "SendData takes text or a byte array, not " + std::string(TypeName(data.Type())));
    }
    TraceTransfer(TraceDirection::Sent, [&] { return linkHost_ + ":" + std::to_string(linkPort_); },
                  pending_.data() + queued, pending_.size() - queued);
    StartWrite();
}

void SocketControl::StartWrite() {
    if (!link_ || writing_) return;
    writing_ = true;
    // What the system takes at once is handed over now, so that a command
    // costs one system call; only a rest waits for the socket to become
    // writable. Either way SendComplete is an event of the loop.
    std::error_code ec;
    const std::size_t sentNow = pending_.empty() ? 0 : link_->socket.send(asio::buffer(pending_), 0, ec);
    if (ec && ec != asio::error::would_block && ec != asio::error::try_again) {
        pending_.clear();
        loop_->Post([this, alive = Token(), link = link_, ec] {
            if (alive.expired() || link != link_) return;
            OnWritten(link, ec, 0);
        });
        return;
    }
    pending_.erase(0, sentNow);
    if (pending_.empty()) {
        loop_->Post([this, alive = Token(), link = link_, sentNow] {
            if (alive.expired() || link != link_) return;
            OnWritten(link, {}, sentNow);
        });
        return;
    }
    link_->out = std::move(pending_);
    pending_.clear();
    asio::async_write(link_->socket, asio::buffer(link_->out),
                      [this, alive = Token(), link = link_, sentNow](const std::error_code& error, std::size_t n) {
                          if (alive.expired() || link != link_) return;
                          OnWritten(link, error, sentNow + n);
                      });
}

void SocketControl::OnWritten(const std::shared_ptr<Link>& link, const std::error_code& ec, std::size_t n) {
    writing_ = false;
    link->out.clear();
    if (ec) {
        Fail(ec);
        return;
    }
    if (!pending_.empty()) {
        const auto remaining = static_cast<int32_t>(pending_.size());
        StartWrite();
        if (OnSendProgress) OnSendProgress(static_cast<int32_t>(n), remaining);
        return;
    }
    if (OnSendComplete) OnSendComplete();
}

void SocketControl::GetData(Variant& data, const Variant& type, const Variant& maxLen) {
    int16_t code = data.Type() == VarType::String ? kDataText : kDataBytes;
    if (!type.IsMissing()) {
        code = type.ToInteger();
        if (code != kDataText && code != kDataBytes)
            RaiseSocketError(kSocketInvalidArgument, "GetData's type must be 8 (text) or 8209 (byte array), not " +
                                                         std::to_string(code));
    }
    std::size_t take = received_.size();
    if (!maxLen.IsMissing()) {
        const int32_t most = maxLen.ToLong();
        if (most < 1)
            RaiseSocketError(kSocketInvalidArgument,
                             "GetData's maximum length must be at least 1, not " + std::to_string(most));
        take = std::min(take, static_cast<std::size_t>(most));
    }
    const auto end = received_.begin() + static_cast<std::ptrdiff_t>(take);
    if (code == kDataText) data = Variant(std::string(received_.begin(), end));
    else data = Variant::Bytes(std::vector<uint8_t>(reinterpret_cast<const uint8_t*>(received_.data()),
                                                    reinterpret_cast<const uint8_t*>(received_.data()) + take));
    received_.erase(received_.begin(), end);
    StartRead();  // reading stops at the limit; room was made
}

void SocketControl::Close() {
    Drop();
    received_.clear();
    state_ = kStateClosed;
}

void SocketControl::Fail(const std::error_code& ec) {
    const int16_t number = SocketErrorNumber(ec);
    std::error_code ignored;
    link_->socket.close(ignored);
    pending_.clear();
    state_ = kStateError;
    RaiseError(number, SocketErrorText(number, linkHost_, linkPort_, ec));
}

void SocketControl::RaiseError(int16_t number, std::string description) {
    bool cancelDisplay = false;
    const Alive alive = Token();
    if (OnError) OnError(number, description, ScodeOf(number), kSocketSource, std::string(), 0, cancelDisplay);
    if (alive.expired()) return;
    if (!cancelDisplay && Display) Display(number, description);
}

void SocketControl::Drop() noexcept {
    if (link_) {
        std::error_code ignored;
        link_->resolver.cancel();
        link_->socket.close(ignored);
        link_.reset();  // handlers still in the loop see a link that is no longer theirs
    }
    reading_ = writing_ = false;
    pending_.clear();
}

}  // namespace tessel::tcpip
