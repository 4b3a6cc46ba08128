#include <cstring>

#include <tessel/host.h>

#include "console/operator_console.h"
#include "ports/event_loop.h"
#include "ports/readable_watch.h"
#include "ports/wait.h"

namespace tessel::console {

bool WaitForOperator(int fd, const std::function<bool()>& done) {
    auto loop = EventLoop::Current();
    ReadableWatch watch(*loop, fd);
    if (!watch.Watching()) RaiseNoConsole("The operator console cannot be watched", std::strerror(watch.Error()));
    for (;;) {
        if (done()) return true;
        if (RunStateStops(CurrentHostControl().RunState())) return false;
        watch.Arm();
        loop->WaitFor(std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::chrono::duration<double>(WaitYield::kMaxSleepSeconds)));
    }
}

}  // namespace tessel::console
