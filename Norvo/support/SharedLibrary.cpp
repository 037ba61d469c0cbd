#include "support/SharedLibrary.hpp"

#include <dlfcn.h>

namespace norvo {

SharedLibrary::SharedLibrary(const char* soname) {
    // Symbols stay local: nothing else in the process binds to them by accident.
    handle_ = dlopen(soname, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle_) {
        const char* why = dlerror();
        error_ = why ? why : std::string("cannot open ") + soname;
    }
}

SharedLibrary::~SharedLibrary() {
    if (handle_) dlclose(handle_);
}

void* SharedLibrary::address(const char* name) const { return handle_ ? dlsym(handle_, name) : nullptr; }

}  // namespace norvo
