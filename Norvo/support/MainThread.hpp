#pragma once
// The one way back to the main thread, and the one lifetime guard for callbacks.
//
// Work that finishes on another thread (a worker, a GLib callback from elsewhere) hands its
// result back with MainThread::post; a callback that may outlive the object it serves
// wraps itself with that object's Lifetime, so it does nothing once the object is gone.
#include <functional>
#include <memory>
#include <thread>
#include <utility>

namespace norvo {

// An object's life as its callbacks see it. Destroyed with the object; callbacks made by
// `guard` then do nothing. Not copyable: a copy would be a second life.
class Lifetime {
public:
    Lifetime() = default;
    Lifetime(const Lifetime&) = delete;
    Lifetime& operator=(const Lifetime&) = delete;

    // `f` wrapped so that it runs only while the owner lives.
    template <typename F>
    auto guard(F f) const {
        return [weak = std::weak_ptr<const int>(token_), f = std::move(f)](auto&&... args) mutable {
            if (!weak.expired()) f(std::forward<decltype(args)>(args)...);
        };
    }
    bool alive() const { return bool(token_); }

private:
    std::shared_ptr<const int> token_ = std::make_shared<const int>(0);
};

namespace MainThread {

// Runs `task` on the main thread (the default GLib main context) soon. Safe from any thread.
void post(std::function<void()> task);

// Runs `work` on a worker thread of its own and hands its result to `then` on the main
// thread. Guard `then` with the owner's Lifetime when the owner may go first.
template <typename Result>
void inBackground(std::function<Result()> work, std::function<void(Result)> then) {
    std::thread([work = std::move(work), then = std::move(then)]() mutable {
        auto result = std::make_shared<Result>(work());
        post([then = std::move(then), result] { then(std::move(*result)); });
    }).detach();
}

}  // namespace MainThread
}  // namespace norvo
