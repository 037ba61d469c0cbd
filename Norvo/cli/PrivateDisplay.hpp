#pragma once
#include <optional>
#include <string>

#include <sys/types.h>

namespace norvo {

// A headless X display of this process's own (Xvfb), for `norvo render` where there is no
// display (over ssh, in CI): started with -displayfd so its number is never guessed, reached
// only from this machine, and stopped when the object goes. Main thread only.
class PrivateDisplay {
public:
    // Starts Xvfb and points DISPLAY at it; nothing when Xvfb is missing or does not answer
    // within a few seconds (`why` says which).
    static std::optional<PrivateDisplay> start(std::string& why);
    PrivateDisplay(PrivateDisplay&& other) noexcept : pid_(other.pid_) { other.pid_ = -1; }
    PrivateDisplay& operator=(PrivateDisplay&&) = delete;
    PrivateDisplay(const PrivateDisplay&) = delete;
    ~PrivateDisplay();

private:
    explicit PrivateDisplay(pid_t pid) : pid_(pid) {}
    pid_t pid_ = -1;
};

}  // namespace norvo
