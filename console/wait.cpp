#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include <asio/posix/stream_descriptor.hpp>

#include <tessel/host.h>

#include "console/operator_console.h"
#include "ports/event_loop.h"
#include "ports/wait.h"

namespace tessel::console {

bool WaitForOperator(int fd, const std::function<bool()>& done) {
    auto loop = EventLoop::Current();
    // A copy of the descriptor: closing ours must not close the owner's.
    const int copy = ::dup(fd);
    if (copy < 0) RaiseNoConsole("The operator console cannot be watched", std::strerror(errno));
    asio::posix::stream_descriptor watch(loop->Context(), copy);
    // Shared with the handler, which may run after this frame is gone: the
    // cancelled wait completes on the loop's next turn.
    auto readable = std::make_shared<bool>(true);
    for (;;) {
        if (done()) return true;
        if (RunStateStops(CurrentHostControl().RunState())) return false;
        if (*readable) {
            *readable = false;
            watch.async_wait(asio::posix::descriptor_base::wait_read,
                             [readable](const asio::error_code&) { *readable = true; });
        }
        loop->WaitFor(std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::chrono::duration<double>(WaitYield::kMaxSleepSeconds)));
    }
}

}  // namespace tessel::console
