#include "cli/StopSignals.hpp"

#include <csignal>

#include <glib-unix.h>

namespace norvo {

StopSignals::StopSignals(std::function<void(int)> stop)
    : handlers_{{SIGINT, this}, {SIGTERM, this}}, stop_(std::move(stop)) {
    for (Handler& handler : handlers_)
        sources_.push_back(g_unix_signal_add(handler.signal, +[](gpointer data) -> gboolean {
            auto* h = static_cast<Handler*>(data);
            if (h->self->caught_ == 0) {
                h->self->caught_ = h->signal;
                h->self->stop_(h->signal);
            }
            return G_SOURCE_CONTINUE;
        }, &handler));
}

StopSignals::~StopSignals() {
    for (unsigned source : sources_) g_source_remove(source);
}

}  // namespace norvo
