#include "support/MainThread.hpp"

#include <algorithm>

#include <glib.h>

namespace norvo {

void MainThread::post(std::function<void()> task) {
    using Task = std::function<void()>;
    // An idle source attached to the default context always waits for that context's loop,
    // unlike g_main_context_invoke, which runs at once when the caller can own the context.
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(
        source,
        [](gpointer data) -> gboolean {
            (*static_cast<Task*>(data))();
            return G_SOURCE_REMOVE;
        },
        std::make_unique<Task>(std::move(task)).release(),
        [](gpointer data) { std::unique_ptr<Task>(static_cast<Task*>(data)); });
    g_source_attach(source, nullptr);
    g_source_unref(source);
}

BackgroundTasks::~BackgroundTasks() {
    for (std::thread& worker : workers_) worker.join();
}

void BackgroundTasks::start(std::function<std::function<void()>()> job) {
    auto guardedFinish = lifetime_.guard([this](std::thread::id worker, std::function<void()> then) {
        finished(worker);
        then();
    });
    workers_.emplace_back([job = std::move(job), guardedFinish]() mutable {
        std::function<void()> then = job();
        MainThread::post([guardedFinish, then = std::move(then), worker = std::this_thread::get_id()]() mutable {
            guardedFinish(worker, std::move(then));
        });
    });
}

void BackgroundTasks::waitForAll() {
    for (std::thread& worker : workers_) worker.join();
    workers_.clear();
}

void BackgroundTasks::finished(std::thread::id worker) {
    const auto it = std::find_if(workers_.begin(), workers_.end(),
                                 [worker](const std::thread& t) { return t.get_id() == worker; });
    if (it == workers_.end()) return;
    it->join();  // it has posted its result: only its return is left
    workers_.erase(it);
}

}  // namespace norvo
