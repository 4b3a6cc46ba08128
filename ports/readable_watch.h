// Wakes the thread's loop when a descriptor that belongs to someone else (a
// GPIB library's service-request handle, the console's input) turns
// readable. It watches a duplicate, so that closing the watch never closes
// the owner's descriptor, and its handler is bound to the watch's own
// connection: a wait that completes after the watch is gone does nothing.
//
// Threads: the loop's own thread.
#pragma once

#include <fcntl.h>

#include <cerrno>
#include <utility>

#include <asio/posix/stream_descriptor.hpp>

#include "ports/connection.h"
#include "ports/event_loop.h"
#include "ports/unique_fd.h"

namespace tessel {

class ReadableWatch {
public:
    // Watches nothing when fd is negative or cannot be duplicated: see
    // Watching and Error. Raises std::system_error when the loop refuses
    // the descriptor.
    ReadableWatch(EventLoop& loop, int fd) {
        if (fd < 0) {
            error_ = EBADF;
            return;
        }
        UniqueFd copy(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
        if (!copy) {
            error_ = errno;
            return;
        }
        link_.Open(loop.Context(), std::move(copy));
    }

    bool Watching() const { return static_cast<bool>(link_); }
    // Why nothing is watched (an errno value), else 0.
    int Error() const { return error_; }

    // Arms one wake-up unless one is armed already. Does not block.
    void Arm() {
        if (!link_ || link_->armed) return;
        link_->armed = true;
        link_->descriptor.async_wait(asio::posix::descriptor_base::wait_read,
                                     link_.Bind([](Link& link, const asio::error_code&) { link.armed = false; }));
    }

private:
    struct Link {
        // The descriptor owns the copy once it holds it; until then (its
        // registration may fail) the copy closes itself.
        Link(asio::io_context& io, UniqueFd copy) : descriptor(io, copy.get()) { copy.release(); }
        asio::posix::stream_descriptor descriptor;
        bool armed = false;
    };
    Connection<Link> link_;
    int error_ = 0;
};

}  // namespace tessel
