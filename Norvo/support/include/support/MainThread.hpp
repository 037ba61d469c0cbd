#pragma once
// The one way back to the main thread, and the one lifetime guard for callbacks.
//
// Work that finishes on another thread hands its result back with MainThread::post, or runs
// under a BackgroundTasks owner that joins it; a callback that may outlive the object it
// serves wraps itself with that object's Lifetime, so it does nothing once the object is gone.
#include <functional>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

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

// Queues `task` to run on the main thread (the default GLib main context) in a later
// iteration of its main loop; never runs it inline, whichever thread calls and whoever
// owns the context at that moment. Callable from any thread. The caller guarantees that
// what `task` touches is still alive when it runs: guard it with the owner's Lifetime.
void post(std::function<void()> task);

}  // namespace MainThread

// Work on threads of their own, each handing its result back on the main thread. The
// owner of the work holds this object (declared last, so it goes first): at the owner's end
// it waits for every worker still running, and results that come later are dropped.
// Main thread only, except `work`, which runs on its worker and must not touch the owner.
class BackgroundTasks {
public:
    BackgroundTasks() = default;
    ~BackgroundTasks();
    BackgroundTasks(const BackgroundTasks&) = delete;
    BackgroundTasks& operator=(const BackgroundTasks&) = delete;

    template <typename Result>
    void run(std::function<Result()> work, std::function<void(Result)> then) {
        start([work = std::move(work), then = std::move(then)]() mutable -> std::function<void()> {
            auto result = std::make_shared<Result>(work());
            return [then = std::move(then), result]() mutable { then(std::move(*result)); };
        });
    }

    // Workers still running (main thread).
    std::size_t running() const { return workers_.size(); }
    // Waits until every worker has done its work (main thread). Their results still come in
    // later iterations of the main loop.
    void waitForAll();

private:
    // `job` runs on a new worker and returns what the main thread does with its result.
    void start(std::function<std::function<void()>()> job);
    void finished(std::thread::id worker);

    std::vector<std::thread> workers_;
    Lifetime lifetime_;
};

}  // namespace norvo
