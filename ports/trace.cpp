#include <tessel/trace.h>

#include <cstdio>
#include <memory>
#include <mutex>

#include "ports/trace_hook.h"

namespace tessel {

std::atomic<bool> g_traceOn{false};

namespace {

// The sink is shared so that a transfer can call it outside the lock while
// another thread replaces it.
std::mutex& SinkMutex() {
    static std::mutex m;
    return m;
}
std::shared_ptr<const TraceSink>& Sink() {
    static std::shared_ptr<const TraceSink> sink;
    return sink;
}

}  // namespace

void DeliverTrace(TraceDirection direction, std::string_view port, std::string_view bytes) {
    const TraceRecord record{std::chrono::steady_clock::now(), direction, port, bytes};
    std::shared_ptr<const TraceSink> sink;
    {
        std::lock_guard lock(SinkMutex());
        sink = Sink();
    }
    if (sink) (*sink)(record);
}

void SetTrace(TraceSink sink) {
    std::shared_ptr<const TraceSink> next = sink ? std::make_shared<const TraceSink>(std::move(sink)) : nullptr;
    const bool on = next != nullptr;
    {
        std::lock_guard lock(SinkMutex());
        Sink().swap(next);
    }
    g_traceOn.store(on, std::memory_order_relaxed);
    // `next` now holds the old sink and goes here, outside the lock, in case
    // its captures do something slow on destruction.
}

std::string QuotedBytes(std::string_view bytes) {
    std::string out = "\"";
    for (const char c : bytes) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c >= 0x20 && c < 0x7F) {
                out += c;
            } else {
                char hex[5];
                std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
                out += hex;
            }
        }
    }
    return out + "\"";
}

std::string TraceLine(const TraceRecord& record, std::chrono::steady_clock::time_point origin) {
    const double seconds = std::chrono::duration<double>(record.time - origin).count();
    char time[32];
    std::snprintf(time, sizeof time, "%10.6f", seconds);
    std::string line = time;
    line += record.direction == TraceDirection::Sent ? " sent " : " recv ";
    line += record.port;
    line += ' ';
    line += QuotedBytes(record.bytes);
    return line;
}

}  // namespace tessel
