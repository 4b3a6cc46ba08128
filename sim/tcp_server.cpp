#include <array>
#include <map>
#include <mutex>

#include <asio/ip/tcp.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include <tessel/sim.h>

#include "sim/server_thread.h"

namespace tessel::sim {

using asio::ip::tcp;

struct TcpServer::Impl : ServerThread {
    // An instrument and whether a connection still uses it.
    struct Slot {
        explicit Slot(const Config& c) : instrument(c, Transport::Stream) {}
        Instrument instrument;
        bool open = false;
    };

    struct Session : std::enable_shared_from_this<Session> {
        Session(Impl& s, std::size_t i, std::shared_ptr<Slot> sl, tcp::socket so)
            : server(s), index(i), slot(std::move(sl)), socket(std::move(so)), timer(server.io) {}
        Impl& server;
        std::size_t index;
        std::shared_ptr<Slot> slot;
        tcp::socket socket;
        asio::steady_timer timer;
        std::optional<TimePoint> armedFor;
        std::array<char, 16384> buffer{};
        std::string writing;  // in flight
        std::string queued;   // formed while a write was in flight
        bool closed = false;
    };

    explicit Impl(TcpOptions o) : options(std::move(o)) {
        if (options.shared) shared = std::make_shared<Slot>(options.instrument);
        // Made once here so a bad fixed reply fails in the constructor, not on
        // the server thread at the first connection.
        Instrument check(options.instrument);
        const tcp::endpoint endpoint(asio::ip::address_v4::loopback(), options.port);
        acceptor.open(endpoint.protocol());
        acceptor.set_option(tcp::acceptor::reuse_address(true));
        acceptor.bind(endpoint);
        acceptor.listen();
        port = acceptor.local_endpoint().port();
        Accept();
        StartThread();
    }

    ~Impl() { Stop(); }

    void Stop() {
        if (!StopThread()) return;
        // The thread is gone: nothing else touches these now. Handlers still
        // queued keep their sessions alive until the context goes; their
        // sockets are closed here so clients see the end at once.
        std::error_code ignored;
        acceptor.close(ignored);
        for (const auto& [index, weak] : sessions) {
            if (auto s = weak.lock()) {
                s->closed = true;
                s->socket.close(ignored);
                s->timer.cancel();
            }
        }
        sessions.clear();
    }

    void Accept() {
        acceptor.async_accept([this](const std::error_code& ec, tcp::socket socket) {
            if (ec == asio::error::operation_aborted) return;
            if (ec) {
                // Out of descriptors, say: try again a little later rather than spin.
                acceptRetry.expires_after(std::chrono::milliseconds(50));
                acceptRetry.async_wait([this](const std::error_code& e) {
                    if (!e) Accept();
                });
                return;
            }
            std::error_code ignored;
            socket.set_option(tcp::no_delay(true), ignored);
            std::shared_ptr<Slot> slot = shared ? shared : std::make_shared<Slot>(options.instrument);
            std::size_t index;
            {
                std::lock_guard lock(mu);
                index = accepted++;
                slot->open = true;
                if (!shared) slots[index] = slot;
            }
            auto session = std::make_shared<Session>(*this, index, std::move(slot), std::move(socket));
            sessions[index] = session;
            Read(session);
            // One at a time in shared mode: the next waits in the listen queue.
            if (!shared) Accept();
        });
    }

    void Read(const std::shared_ptr<Session>& s) {
        s->socket.async_read_some(asio::buffer(s->buffer), [this, s](const std::error_code& ec, std::size_t n) {
            if (ec) {
                Close(s);
                return;
            }
            Service(s, std::string_view(s->buffer.data(), n));
            Read(s);
        });
    }

    void Service(const std::shared_ptr<Session>& s, std::string_view input) {
        if (s->closed) return;
        std::optional<TimePoint> deadline;
        {
            std::lock_guard lock(mu);
            Feed(s->slot->instrument, input);
            deadline = s->slot->instrument.NextDeadline();
        }
        Write(s);
        ArmTimer(s, deadline);
    }

    // Takes the instrument's next replies into s->queued, a chunk at a time.
    void Pull(Session& s) {
        std::lock_guard lock(mu);
        Instrument& inst = s.slot->instrument;
        while (s.queued.size() < kWriteChunk && inst.HasOutput())
            s.queued += inst.TakeOutput(kWriteChunk - s.queued.size()).bytes;
    }

    void Write(const std::shared_ptr<Session>& s) {
        if (s->closed || !s->writing.empty()) return;
        Pull(*s);
        if (s->queued.empty()) return;
        s->writing.swap(s->queued);
        asio::async_write(s->socket, asio::buffer(s->writing), [this, s](const std::error_code& ec, std::size_t) {
            s->writing.clear();
            if (ec) {
                Close(s);
                return;
            }
            Write(s);
        });
    }

    void ArmTimer(const std::shared_ptr<Session>& s, std::optional<TimePoint> deadline) {
        if (deadline == s->armedFor) return;
        s->armedFor = deadline;
        if (!deadline) {
            s->timer.cancel();
            return;
        }
        s->timer.expires_at(*deadline);
        s->timer.async_wait([this, s](const std::error_code& ec) {
            if (ec) return;  // cancelled or re-armed
            s->armedFor.reset();
            Service(s, {});
        });
    }

    void Close(const std::shared_ptr<Session>& s) {
        if (s->closed) return;
        s->closed = true;
        std::error_code ignored;
        s->socket.close(ignored);
        s->timer.cancel();
        sessions.erase(s->index);
        {
            std::lock_guard lock(mu);
            s->slot->open = false;
            if (shared) s->slot->instrument.DeviceClear();
            PruneClosed();
        }
        if (shared) Accept();
    }

    // Drops the oldest closed instruments beyond what the options keep.
    void PruneClosed() {
        std::size_t closed = 0;
        for (const auto& [index, slot] : slots) closed += slot->open ? 0 : 1;
        for (auto it = slots.begin(); it != slots.end() && closed > options.retainClosed;) {
            if (!it->second->open) {
                it = slots.erase(it);
                --closed;
            } else {
                ++it;
            }
        }
    }

    bool Access(std::size_t connection, const std::function<void(Instrument&)>& fn) {
        {
            std::lock_guard lock(mu);
            if (connection >= accepted) return false;
            if (shared) {
                fn(shared->instrument);
            } else {
                auto it = slots.find(connection);
                if (it == slots.end()) return false;
                fn(it->second->instrument);
            }
        }
        // Write what fn produced, and follow any deadline it changed, on the
        // session that serves the instrument (if it is still connected).
        asio::post(io, [this, connection] {
            for (const auto& [index, weak] : sessions) {
                if (!shared && index != connection) continue;
                if (auto s = weak.lock()) Service(s, {});
            }
        });
        return true;
    }

    bool Access(const std::function<void(Instrument&)>& fn) {
        std::size_t newest;
        {
            std::lock_guard lock(mu);
            if (shared) {
                fn(shared->instrument);
                newest = SIZE_MAX;
            } else {
                if (accepted == 0) return false;
                newest = accepted - 1;
            }
        }
        if (newest != SIZE_MAX) return Access(newest, fn);
        asio::post(io, [this] {
            for (const auto& [index, weak] : sessions)
                if (auto s = weak.lock()) Service(s, {});
        });
        return true;
    }

    TcpOptions options;
    std::mutex mu;
    // Guarded by mu.
    std::map<std::size_t, std::shared_ptr<Slot>> slots;  // per-connection mode
    std::shared_ptr<Slot> shared;                         // shared mode
    std::size_t accepted = 0;

    tcp::acceptor acceptor{io};
    asio::steady_timer acceptRetry{io};
    uint16_t port = 0;
    std::map<std::size_t, std::weak_ptr<Session>> sessions;  // server thread only
};

TcpServer::TcpServer(TcpOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}
TcpServer::~TcpServer() = default;

uint16_t TcpServer::Port() const { return impl_->port; }

std::size_t TcpServer::Connections() {
    std::lock_guard lock(impl_->mu);
    return impl_->accepted;
}

bool TcpServer::Access(std::size_t connection, const std::function<void(Instrument&)>& fn) {
    return impl_->Access(connection, fn);
}

bool TcpServer::Access(const std::function<void(Instrument&)>& fn) { return impl_->Access(fn); }

std::optional<Snapshot> TcpServer::State(std::size_t connection) {
    std::optional<Snapshot> s;
    impl_->Access(connection, [&](Instrument& i) { s = i.State(); });
    return s;
}

std::optional<std::vector<std::string>> TcpServer::MessageLog(std::size_t connection) {
    std::optional<std::vector<std::string>> log;
    impl_->Access(connection, [&](Instrument& i) { log = i.MessageLog(); });
    return log;
}

void TcpServer::Stop() { impl_->Stop(); }

}  // namespace tessel::sim
