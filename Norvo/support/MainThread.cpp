#include "support/MainThread.hpp"

#include <glib.h>

namespace norvo::MainThread {

void post(std::function<void()> task) {
    using Task = std::function<void()>;
    g_main_context_invoke_full(
        nullptr, G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            (*static_cast<Task*>(data))();
            return G_SOURCE_REMOVE;
        },
        std::make_unique<Task>(std::move(task)).release(),
        [](gpointer data) { std::unique_ptr<Task>(static_cast<Task*>(data)); });
}

}  // namespace norvo::MainThread
