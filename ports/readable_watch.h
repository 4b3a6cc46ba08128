// Wakes the thread's loop when a descriptor that belongs to someone else (a
// GPIB library's service-request handle, the console's input) turns
// readable. It watches a duplicate, so that closing the watch never closes
// the owner's descriptor, and its handler is bound to the watch's own
// connection: a wait that completes after the watch is gone does nothing.
//
// Threads: the loop's own thread.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include <asio/error.hpp>
#include <asio/posix/stream_descriptor.hpp>

#include "ports/connection.h"
#include "ports/event_loop.h"
#include "ports/unique_fd.h"

namespace tessel {

class ReadableWatch {
public:
    // Watches nothing when fd is negative, cannot be duplicated or is of a
    // kind the system cannot watch (a regular file, a directory): see
    // Watching and Error. Raises nothing.
    ReadableWatch(EventLoop& loop, int fd) {
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            error_ = fd < 0 ? EBADF : errno;
            return;
        }
        // The loop would take such a descriptor as always ready, and every
        // wait on it would end at once.
        if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) {
            error_ = EPERM;
            return;
        }
        UniqueFd copy(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
        if (!copy) {
            error_ = errno;
            return;
        }
        try {
            link_.Open(loop.Context(), std::move(copy));
        } catch (const std::system_error& e) {
            error_ = e.code().value();
        }
    }

    // False also once a wait found that the descriptor cannot be watched.
    bool Watching() const { return link_ && link_->error == 0; }
    // Why nothing is watched (an errno value), else 0.
    int Error() const { return error_ != 0 ? error_ : link_ ? link_->error : 0; }

    // Arms one wake-up unless one is armed already. Does not block.
    void Arm() {
        if (!Watching() || link_->armed) return;
        link_->armed = true;
        link_->descriptor.async_wait(asio::posix::descriptor_base::wait_read,
                                     link_.Bind([](Link& link, const asio::error_code& ec) {
                                         link.armed = false;
                                         // Armed again, it would only fail again at once.
                                         if (ec == asio::error::operation_not_supported) link.error = ec.value();
                                     }));
    }

private:
    struct Link {
        // The descriptor owns the copy once it holds it; until then (its
        // registration may fail) the copy closes itself.
        Link(asio::io_context& io, UniqueFd copy) : descriptor(io, copy.get()) { copy.release(); }
        asio::posix::stream_descriptor descriptor;
        bool armed = false;
        int error = 0;
    };
    Connection<Link> link_;
    int error_ = 0;
};

}  // namespace tessel
