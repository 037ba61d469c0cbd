#pragma once
#include <string>

namespace norvo {

// A system library opened when it is first needed instead of with the program: a library
// only some runs use (the network and archive code of an update) then costs nothing to the
// others. Once opened, a library stays in the process (RTLD_NODELETE): functions taken from
// it stay valid. Any thread; `symbol` is safe from several threads.
class SharedLibrary {
public:
    explicit SharedLibrary(const char* soname);
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    bool loaded() const { return handle_ != nullptr; }
    // Why the library could not be opened (empty when it was).
    const std::string& error() const { return error_; }

    // The function `name` as a `Function*` (`decltype` of the declaration from the library's
    // header), or null when the library or the function is missing.
    template <typename Function>
    Function* function(const char* name) const {
        return reinterpret_cast<Function*>(address(name));
    }

private:
    void* address(const char* name) const;
    void* handle_ = nullptr;
    std::string error_;
};

}  // namespace norvo
