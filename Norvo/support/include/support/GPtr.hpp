#pragma once
// Owning handles for GLib and GObject C objects.
#include <memory>

#include <glib-object.h>

namespace norvo {

struct GObjectUnref {
    void operator()(gpointer p) const { if (p) g_object_unref(p); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

// Takes over a reference the caller already owns.
template <typename T>
GObjectPtr<T> adoptGObject(T* p) { return GObjectPtr<T>(p); }

struct GErrorFree {
    void operator()(GError* e) const { if (e) g_error_free(e); }
};
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

struct GBytesUnref {
    void operator()(GBytes* b) const { if (b) g_bytes_unref(b); }
};
using GBytesPtr = std::unique_ptr<GBytes, GBytesUnref>;

struct GFree {
    void operator()(gpointer p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<gchar, GFree>;

// A GLib timeout or idle source that is removed when the handle goes.
class GSource {
public:
    GSource() = default;
    explicit GSource(guint id) : id_(id) {}
    ~GSource() { reset(); }
    GSource(GSource&& o) noexcept : id_(o.id_) { o.id_ = 0; }
    GSource& operator=(GSource&& o) noexcept {
        if (this != &o) { reset(); id_ = o.id_; o.id_ = 0; }
        return *this;
    }
    void reset() {
        if (id_) g_source_remove(id_);
        id_ = 0;
    }
    // The source ended on its own (its callback returned G_SOURCE_REMOVE).
    void forget() { id_ = 0; }
    explicit operator bool() const { return id_ != 0; }

private:
    guint id_ = 0;
};

}  // namespace norvo
