// The connection a control has open now, and the loop's handlers that belong
// to it.
//
// Every open makes a new Link. A handler started for it holds only a weak
// reference (Bind) and does nothing once that link is gone; Close drops the
// link, whose destructor cancels its operations. A completion already queued
// in the loop when the port closed (a read that had finished, an operation
// aborted by the close itself) is therefore dropped unseen: nothing of one
// connection reaches the next, its buffers are never read into again, and an
// aborted operation of our own is never mistaken for a failure.
//
// The link is the only owner, so a handler bound to it also does nothing
// once the control that owns the Connection is destroyed. While a handler
// runs it holds the link, so it may close or reopen the connection.
//
// Threads: the loop's own thread.
#pragma once

#include <memory>
#include <utility>

namespace tessel {

template <class Link>
class Connection {
public:
    // Drops any earlier link and opens a new one.
    template <class... Args>
    Link& Open(Args&&... args) {
        link_.reset();
        link_ = std::make_shared<Link>(std::forward<Args>(args)...);
        return *link_;
    }
    void Close() noexcept { link_.reset(); }

    explicit operator bool() const { return link_ != nullptr; }
    Link* operator->() const { return link_.get(); }
    Link& operator*() const { return *link_; }

    // handler(Link&, args...) as a completion handler that runs only while
    // the link open now is still open.
    template <class Handler>
    auto Bind(Handler handler) const {
        return [link = std::weak_ptr<Link>(link_), handler = std::move(handler)](auto&&... args) mutable {
            if (const std::shared_ptr<Link> held = link.lock()) handler(*held, std::forward<decltype(args)>(args)...);
        };
    }

private:
    std::shared_ptr<Link> link_;
};

}  // namespace tessel
