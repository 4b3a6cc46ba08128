#include <tessel/object.h>

#include <atomic>

namespace tessel {
namespace {
std::atomic<std::size_t> g_liveObjects{0};
}

Object::Object() noexcept { g_liveObjects.fetch_add(1, std::memory_order_relaxed); }
Object::Object(const Object&) noexcept { g_liveObjects.fetch_add(1, std::memory_order_relaxed); }
Object::~Object() { g_liveObjects.fetch_sub(1, std::memory_order_relaxed); }

std::size_t LiveObjectCount() noexcept { return g_liveObjects.load(std::memory_order_relaxed); }
bool CanUnloadNow() noexcept { return LiveObjectCount() == 0; }

}  // namespace tessel
