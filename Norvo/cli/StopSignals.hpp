#pragma once
#include <functional>
#include <vector>

namespace norvo {

// SIGINT and SIGTERM while a run lasts, heard on the main loop: the first one calls `stop`
// with its number (later ones are already being handled). The handlers go with this object.
// Main thread only.
class StopSignals {
public:
    explicit StopSignals(std::function<void(int)> stop);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    int caught() const { return caught_; }  // the signal that stopped the run, or 0

private:
    struct Handler {
        int signal;
        StopSignals* self;
    };
    Handler handlers_[2];
    std::vector<unsigned> sources_;
    std::function<void(int)> stop_;
    int caught_ = 0;
};

}  // namespace norvo
