#pragma once
#include <stdexcept>

#include "norvo/Updater.hpp"  // UpdateError, UpdateFailure

namespace norvo {

// A transfer that did not complete (connection, TLS, time-out, size cap).
class NetworkError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace norvo
