#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <system_error>

#include <asio/post.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/steady_timer.hpp>

#include <tessel/sim.h>

#include "ports/unique_fd.h"
#include "sim/server_thread.h"

namespace tessel::sim {
namespace {

[[noreturn]] void ThrowErrno(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

}  // namespace

struct PtyServer::Impl : ServerThread {
    explicit Impl(Config config) : instrument(std::move(config), Transport::Stream) {
        UniqueFd m(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (!m) ThrowErrno("posix_openpt");
        if (::grantpt(m.get()) != 0) ThrowErrno("grantpt");
        if (::unlockpt(m.get()) != 0) ThrowErrno("unlockpt");
        std::array<char, 128> name{};
        if (::ptsname_r(m.get(), name.data(), name.size()) != 0) ThrowErrno("ptsname_r");
        slavePath = name.data();
        // Held for the server's lifetime: with no slave open the master would
        // report a hang-up on every poll, and the terminal's settings would be
        // forgotten between clients.
        slave.reset(::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
        if (!slave) ThrowErrno("open pty slave");
        // Raw from the start: a cooked slave would echo replies back as commands.
        termios t{};
        if (::tcgetattr(slave.get(), &t) != 0) ThrowErrno("tcgetattr");
        ::cfmakeraw(&t);
        if (::tcsetattr(slave.get(), TCSANOW, &t) != 0) ThrowErrno("tcsetattr");
        const int flags = ::fcntl(m.get(), F_GETFL);
        if (flags < 0 || ::fcntl(m.get(), F_SETFL, flags | O_NONBLOCK) != 0) ThrowErrno("fcntl");
        master.assign(m.release());
        WaitReadable();
        StartThread();
    }

    ~Impl() { Stop(); }

    void Stop() {
        if (!StopThread()) return;
        // The thread is gone: nothing else touches these now.
        std::error_code ignored;
        timer.cancel();
        master.close(ignored);
        slave.reset();
    }

    void WaitReadable() {
        master.async_wait(asio::posix::stream_descriptor::wait_read, [this](const std::error_code& ec) {
            if (ec) return;
            OnReadable();
        });
    }

    void OnReadable() {
        std::string input;
        bool broken = false;
        // Bounded, so replies get written between large inputs.
        while (input.size() < 65536) {
            const ssize_t n = ::read(master.native_handle(), buffer.data(), buffer.size());
            if (n > 0) {
                input.append(buffer.data(), static_cast<std::size_t>(n));
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                // EAGAIN: all read. Anything else should not happen while the
                // server holds the slave open; stop reading rather than spin.
                broken = !(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
                break;
            }
        }
        Service(input);
        if (!broken) WaitReadable();
    }

    // Hands input (or just the time) to the instrument, writes what it
    // answered and sets the timer for its next deadline.
    void Service(std::string_view input) {
        std::optional<TimePoint> deadline;
        {
            std::lock_guard lock(mu);
            Feed(instrument, input);
            deadline = instrument.NextDeadline();
        }
        Write();
        ArmTimer(deadline);
    }

    // Takes the next replies from the instrument; false when there are none.
    bool Pull() {
        std::lock_guard lock(mu);
        while (pending.size() < kWriteChunk && instrument.HasOutput())
            pending += instrument.TakeOutput(kWriteChunk - pending.size()).bytes;
        // Under mu, so that no reader sees the bytes gone from the queue
        // before they count as held here.
        pendingBytes = pending.size();
        return !pending.empty();
    }

    void Write() {
        while (!pending.empty() || Pull()) {
            const ssize_t n = ::write(master.native_handle(), pending.data(), pending.size());
            if (n > 0) {
                pending.erase(0, static_cast<std::size_t>(n));
                pendingBytes = pending.size();
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!writeWaiting) {
                    writeWaiting = true;
                    master.async_wait(asio::posix::stream_descriptor::wait_write,
                                      [this](const std::error_code& ec) {
                                          writeWaiting = false;
                                          if (!ec) Write();
                                      });
                }
                return;
            } else {
                pending.clear();  // the terminal refuses output: nobody can read it
                pendingBytes = 0;
                return;
            }
        }
    }

    void ArmTimer(std::optional<TimePoint> deadline) {
        if (deadline == armedFor) return;
        armedFor = deadline;
        if (!deadline) {
            timer.cancel();
            return;
        }
        timer.expires_at(*deadline);
        timer.async_wait([this](const std::error_code& ec) {
            if (ec) return;  // cancelled or re-armed
            armedFor.reset();
            Service({});
        });
    }

    void Access(const std::function<void(Instrument&)>& fn) {
        {
            std::lock_guard lock(mu);
            fn(instrument);
        }
        asio::post(io, [this] { Service({}); });
    }

    std::mutex mu;
    Instrument instrument;  // guarded by mu
    std::string slavePath;
    UniqueFd slave;
    asio::posix::stream_descriptor master{io};
    asio::steady_timer timer{io};
    std::atomic<std::size_t> pendingBytes{0};  // pending's size, for any thread
    // Server thread only.
    std::optional<TimePoint> armedFor;
    std::string pending;  // replies the terminal has not taken yet
    bool writeWaiting = false;
    std::array<char, 4096> buffer{};
};

PtyServer::PtyServer(Config config) : impl_(std::make_unique<Impl>(std::move(config))) {}
PtyServer::~PtyServer() = default;

const std::string& PtyServer::SlavePath() const { return impl_->slavePath; }

void PtyServer::Access(const std::function<void(Instrument&)>& fn) { impl_->Access(fn); }

Snapshot PtyServer::State() {
    std::lock_guard lock(impl_->mu);
    return impl_->instrument.State();
}

std::size_t PtyServer::UnwrittenBytes() {
    std::lock_guard lock(impl_->mu);
    return impl_->instrument.State().outputBytes + impl_->pendingBytes;
}

std::vector<std::string> PtyServer::MessageLog() {
    std::lock_guard lock(impl_->mu);
    return impl_->instrument.MessageLog();
}

void PtyServer::Stop() { impl_->Stop(); }

}  // namespace tessel::sim
