#include "ports/event_loop.h"

#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <system_error>

#include <tessel/events.h>

namespace tessel {
namespace {

// Wake descriptors of the loops that exist, in a fixed table so that a signal
// handler can walk it without locks or allocation. A loop beyond the table's
// size is not woken early; it still notices a stop within kMaxSleep of a wait.
struct WakeSlot {
    std::atomic<int> fd{-1};
    std::atomic<int> users{0};
};
constexpr std::size_t kWakeSlots = 256;
std::array<WakeSlot, kWakeSlots> g_wakeSlots;

int ClaimSlot(int fd) {
    for (std::size_t i = 0; i < kWakeSlots; ++i) {
        int expected = -1;
        if (g_wakeSlots[i].fd.compare_exchange_strong(expected, fd)) return static_cast<int>(i);
    }
    return -1;
}

void ReleaseSlot(int slot) {
    if (slot < 0) return;
    auto& s = g_wakeSlots[static_cast<std::size_t>(slot)];
    s.fd.store(-1);
    // A waker that read the descriptor before it was cleared finishes its
    // write before the descriptor may be closed and reused.
    while (s.users.load() != 0) sched_yield();
}

}  // namespace

void WakeWaitingLoops() noexcept {
    for (auto& s : g_wakeSlots) {
        s.users.fetch_add(1);
        int fd = s.fd.load();
        if (fd >= 0) {
            uint64_t one = 1;
            ssize_t written = ::write(fd, &one, sizeof one);
            (void)written;  // a full counter already means "woken"
        }
        s.users.fetch_sub(1);
    }
}

const std::shared_ptr<EventLoop>& EventLoop::Current() {
    thread_local const std::shared_ptr<EventLoop> loop = std::make_shared<EventLoop>();
    return loop;
}

EventLoop::EventLoop() : wake_(io_) {
    int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    wake_.assign(fd);
    slot_ = ClaimSlot(fd);
    ArmWake();
}

EventLoop::~EventLoop() {
    ReleaseSlot(slot_);
    asio::error_code ignored;
    wake_.close(ignored);
}

void EventLoop::ArmWake() {
    wake_.async_wait(asio::posix::descriptor_base::wait_read, [this](const asio::error_code& ec) {
        if (ec) return;  // the loop is going away
        uint64_t count;
        ssize_t got = ::read(wake_.native_handle(), &count, sizeof count);
        (void)got;
        ArmWake();
    });
}

std::size_t EventLoop::RunPosted() {
    // What these handlers post runs at the next yield, so a handler that posts
    // again cannot keep this one going.
    // The queue's storage goes round between posted_ and spare_, so that a
    // post per query costs no allocation of the queue; `ready` stays local
    // because a handler may yield, and run this again.
    std::vector<std::function<void()>> ready;
    ready.swap(posted_);
    posted_.swap(spare_);
    for (auto& fn : ready) fn();
    const std::size_t ran = ready.size();
    ready.clear();
    if (spare_.capacity() < ready.capacity()) spare_.swap(ready);
    return ran;
}

std::size_t EventLoop::Yield() {
    if (std::chrono::steady_clock::now() - lastLook_ < kCoalesceWindow) return RunPosted();
    return Look();
}

void EventLoop::BeforeLook() {
    for (auto& entry : lookHooks_) entry.second();
}

std::size_t EventLoop::Look() {
    std::size_t ran = RunPosted();
    BeforeLook();
    if (io_.stopped()) io_.restart();
    ran += io_.poll();
    Looked();
    return ran;
}

std::size_t EventLoop::WaitFor(std::chrono::nanoseconds bound) {
    if (const std::size_t ran = RunPosted(); ran != 0) return ran;
    BeforeLook();
    if (io_.stopped()) io_.restart();
    // run_one_for runs a ready handler at once and sleeps only when there is
    // none; the armed wake keeps the context from running out of work, so it
    // never returns early for lack of it. Further ready handlers wait for the
    // caller's next pass rather than cost a look of their own now.
    const std::size_t ran = bound > std::chrono::nanoseconds::zero() ? io_.run_one_for(bound) : io_.poll();
    Looked();
    return ran;
}

void EventLoop::Post(std::function<void()> fn) { posted_.push_back(std::move(fn)); }

void EventLoop::AddLookHook(const void* owner, std::function<void()> hook) {
    RemoveLookHook(owner);
    lookHooks_.emplace_back(owner, std::move(hook));
}

void EventLoop::RemoveLookHook(const void* owner) noexcept {
    std::erase_if(lookHooks_, [owner](const auto& entry) { return entry.first == owner; });
}

std::size_t DoEvents() { return EventLoop::Current()->Yield(); }

std::size_t WaitForEvents(std::chrono::nanoseconds bound) { return EventLoop::Current()->WaitFor(bound); }

void Post(std::function<void()> fn) { EventLoop::Current()->Post(std::move(fn)); }

}  // namespace tessel
