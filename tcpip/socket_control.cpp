#include "tcpip/socket_control.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <utility>

#include <asio/connect.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>

#include "ports/trace_hook.h"
#include "tcpip/socket_errors.h"

namespace tessel::tcpip {

using asio::ip::tcp;

struct SocketControl::Link {
    explicit Link(asio::io_context& io) : resolver(io), socket(io) {}
    ~Link() { resolver.cancel(); }  // the socket closes itself, cancelling its operations
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    tcp::resolver resolver;
    tcp::socket socket;
    std::array<char, 65536> in{};
    bool reading = false;
    bool writing = false;
};

namespace {

// Received bytes already taken are dropped from the front of the queue only
// once this many have gathered and they are at least half of it, or when the
// queue runs empty: moving what remains after every take would cost a copy
// of the whole queue per take.
constexpr std::size_t kCompactAfter = 64 * 1024;

bool WouldBlock(const std::error_code& ec) {
    return ec == asio::error::would_block || ec == asio::error::try_again;
}

}  // namespace

SocketControl::SocketControl(std::shared_ptr<EventLoop> loop) : loop_(std::move(loop)) {
    loop_->AddLookHook(this, [this] { StartRead(); });
}

SocketControl::~SocketControl() {
    loop_->RemoveLookHook(this);
    Drop();
}

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
    // The name would end at the NUL for the system, and the rest be ignored.
    if (host_.find('\0') != std::string::npos)
        RaiseSocketError(kSocketInvalidArgument, "Cannot connect: the remote host name contains a NUL character");
    if (port_ < 1)
        RaiseSocketError(kSocketInvalidArgument,
                         "Cannot connect: the remote port must be 1 to 65535, not " + std::to_string(port_));

    Drop();
    ClearReceived();
    failure_ = {};
    Link& link = link_.Open(loop_->Context());
    linkHost_ = host_;
    linkPort_ = port_;
    state_ = kStateResolvingHost;

    asio::error_code notAnAddress;
    const auto address = asio::ip::make_address(host_, notAnAddress);
    if (!notAnAddress) {
        const tcp::endpoint endpoint(address, static_cast<uint16_t>(port_));
        asio::post(loop_->Context(), link_.Bind([this, endpoint](Link&) { StartConnecting({endpoint}); }));
        return;
    }
    link.resolver.async_resolve(
        host_, std::to_string(port_), tcp::resolver::numeric_service,
        link_.Bind([this](Link&, const std::error_code& ec, const tcp::resolver::results_type& results) {
            if (ec) {
                Fail(ec);
                return;
            }
            std::vector<tcp::endpoint> endpoints;
            for (const auto& entry : results) endpoints.push_back(entry.endpoint());
            StartConnecting(std::move(endpoints));
        }));
}

void SocketControl::StartConnecting(std::vector<tcp::endpoint> endpoints) {
    state_ = kStateHostResolved;
    // The unspecified address means "this machine" to some systems and
    // nothing to others; an instrument is never there.
    std::erase_if(endpoints, [](const tcp::endpoint& e) { return e.address().is_unspecified(); });
    // Connecting starts from the loop, so that "resolved" is a state a
    // caller between two yields can see, as with a looked-up name.
    asio::post(loop_->Context(), link_.Bind([this, endpoints = std::move(endpoints)](Link& link) {
        state_ = kStateConnecting;
        if (endpoints.empty()) {
            Fail(std::error_code(EADDRNOTAVAIL, asio::error::get_system_category()));
            return;
        }
        asio::async_connect(link.socket, endpoints,
                            link_.Bind([this](Link& l, const std::error_code& ec, const tcp::endpoint&) {
                                OnConnected(l, ec);
                            }));
    }));
}

void SocketControl::OnConnected(Link& link, const std::error_code& ec) {
    if (ec) {
        Fail(ec);
        return;
    }
    std::error_code ignored;
    link.socket.set_option(tcp::no_delay(true), ignored);  // only slower without it
    // A send hands the system what it takes at once and never blocks.
    link.socket.non_blocking(true, ignored);
    state_ = kStateConnected;
    StartRead();
    if (OnConnect) OnConnect();
}

void SocketControl::StartRead() {
    if (!link_ || link_->reading || state_ != kStateConnected ||
        static_cast<std::size_t>(BytesReceived()) >= kReceiveLimit)
        return;
    link_->reading = true;
    // Asio's read tries the socket at once and only then waits. Armed after
    // every arrival, that first try would find nothing and cost a system call
    // before the data reached its reader; the loop arms it just before it
    // looks for events instead (the look hook), when it may find data. A
    // readiness wait would cost an epoll_ctl per arming instead.
    link_->socket.async_read_some(asio::buffer(link_->in),
                                  link_.Bind([this](Link& link, const std::error_code& ec, std::size_t n) {
                                      link.reading = false;
                                      if (!ec) Arrived(link.in.data(), n);
                                      OnRead(ec, n);
                                  }));
}

void SocketControl::OnRead(const std::error_code& ec, std::size_t n) {
    if (ec == asio::error::eof) {
        state_ = kStatePeerClosing;
        if (OnClose) OnClose();
        return;
    }
    if (ec) {
        Fail(ec);
        return;
    }
    if (n > 0 && OnDataArrival) OnDataArrival(BytesReceived());
}

void SocketControl::TraceReceived(const char* bytes, std::size_t n) const {
    TraceTransfer(TraceDirection::Received, [&] { return linkHost_ + ":" + std::to_string(linkPort_); }, bytes, n);
}

void SocketControl::Arrived(const char* bytes, std::size_t n) {
    TraceReceived(bytes, n);
    // Moving the rest costs no more than what was taken since the last move.
    if (head_ >= kCompactAfter && head_ * 2 >= received_.size()) {
        received_.erase(0, head_);
        head_ = 0;
    }
    received_.append(bytes, n);
}

void SocketControl::SendData(const Variant& data) {
    // After a failure the failure itself is what a sender needs to hear,
    // even when its event went to nobody.
    if (state_ == kStateError && failure_.first != 0) RaiseSocketError(failure_.first, failure_.second);
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

std::size_t SocketControl::Transmit(Link& link, std::error_code& ec) {
    const std::size_t sent = link.socket.send(asio::buffer(pending_.data() + sentHead_, pending_.size() - sentHead_), 0, ec);
    sentHead_ += sent;
    if (sentHead_ == pending_.size()) {
        pending_.clear();
        sentHead_ = 0;
    }
    return sent;
}

void SocketControl::StartWrite() {
    if (!link_ || link_->writing) return;
    Link& link = *link_;
    link.writing = true;
    // What the system takes at once is handed over now, so that a command
    // costs one system call; only a rest waits for the socket to become
    // writable. Either way SendComplete is an event of the loop.
    std::error_code ec;
    const std::size_t sentNow = pending_.empty() ? 0 : Transmit(link, ec);
    if (ec && !WouldBlock(ec)) {
        pending_.clear();
        sentHead_ = 0;
        loop_->Post(link_.Bind([this, ec](Link& l) { OnWritten(l, ec, 0); }));
        return;
    }
    if (pending_.empty()) {
        loop_->Post(link_.Bind([this, sentNow](Link& l) { OnWritten(l, {}, sentNow); }));
        return;
    }
    link.socket.async_wait(tcp::socket::wait_write,
                           link_.Bind([this, sentNow](Link& l, const std::error_code& error) {
                               OnWritten(l, error, sentNow);
                           }));
}

void SocketControl::OnWritten(Link& link, const std::error_code& ec, std::size_t n) {
    link.writing = false;
    if (ec) {
        Fail(ec);
        return;
    }
    if (!pending_.empty()) {
        const auto remaining = static_cast<int32_t>(pending_.size() - sentHead_);
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
    std::size_t take = static_cast<std::size_t>(BytesReceived());
    if (!maxLen.IsMissing()) {
        const int32_t most = maxLen.ToLong();
        if (most < 1)
            RaiseSocketError(kSocketInvalidArgument,
                             "GetData's maximum length must be at least 1, not " + std::to_string(most));
        take = std::min(take, static_cast<std::size_t>(most));
    }
    const char* first = received_.data() + head_;
    if (code == kDataText) {
        data = Variant(std::string(first, take));
    } else {
        const auto* bytes = reinterpret_cast<const uint8_t*>(first);
        data = Variant::Bytes(std::vector<uint8_t>(bytes, bytes + take));
    }
    Consumed(take);
}

std::size_t SocketControl::Take(std::span<uint8_t> into) {
    const std::size_t take = std::min(into.size(), static_cast<std::size_t>(BytesReceived()));
    std::copy_n(received_.data() + head_, take, reinterpret_cast<char*>(into.data()));
    Consumed(take);
    if (take == into.size() || BytesReceived() != 0) return take;
    return take + ReadStraight(into.subspan(take));
}

std::size_t SocketControl::ReadStraight(std::span<uint8_t> into) {
    // With a read armed, the loop may already hold bytes it read before
    // these: taking from the socket now would put them out of order.
    if (!link_ || link_->reading || state_ != kStateConnected) return 0;
    std::error_code ec;
    const std::size_t n = link_->socket.receive(asio::buffer(into.data(), into.size()), 0, ec);
    if (n > 0) {
        TraceReceived(reinterpret_cast<const char*>(into.data()), n);
        return n;
    }
    // The end of the stream stays for the armed read to find. A failure is
    // reported by the system once: it is kept for the loop, which raises it
    // as if its own read had met it.
    if (ec && !WouldBlock(ec) && ec != asio::error::eof)
        loop_->Post(link_.Bind([this, ec](Link&) { Fail(ec); }));
    return 0;
}

std::size_t SocketControl::AppendTo(std::string& text, std::size_t most) {
    const std::size_t take = std::min(most, static_cast<std::size_t>(BytesReceived()));
    text.append(received_, head_, take);
    Consumed(take);
    return take;
}

void SocketControl::Consumed(std::size_t n) {
    head_ += n;
    if (head_ == received_.size()) {
        received_.clear();
        head_ = 0;
    }
}

void SocketControl::ClearReceived() noexcept {
    received_ = std::string();
    head_ = 0;
}

void SocketControl::Close() {
    Drop();
    ClearReceived();
    state_ = kStateClosed;
}

void SocketControl::Fail(const std::error_code& ec) {
    const int16_t number = SocketErrorNumber(ec);
    // The failure ends the connection: what else was under way on it ends
    // aborted and unseen, so one failure makes one error.
    Drop();
    state_ = kStateError;
    failure_ = {number, SocketErrorText(number, linkHost_, linkPort_, ec)};
    RaiseError(number, failure_.second);
}

void SocketControl::RaiseError(int16_t number, std::string description) {
    bool cancelDisplay = false;
    // The handler may destroy the control: nothing of it is used afterwards.
    const auto display = Display;
    if (OnError) OnError(number, description, ScodeOf(number), kSocketSource, std::string(), 0, cancelDisplay);
    if (!cancelDisplay && display) display(number, description);
}

void SocketControl::Drop() noexcept {
    link_.Close();
    pending_ = std::string();
    sentHead_ = 0;
}

}  // namespace tessel::tcpip
