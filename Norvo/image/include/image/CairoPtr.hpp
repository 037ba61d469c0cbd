#pragma once
// Owning handles for cairo objects.
#include <memory>

#include <cairo.h>

namespace norvo {

struct CairoSurfaceDestroy {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct CairoDestroy {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};
using CairoSurfacePtr = std::unique_ptr<cairo_surface_t, CairoSurfaceDestroy>;
using CairoPtr = std::unique_ptr<cairo_t, CairoDestroy>;

}  // namespace norvo
