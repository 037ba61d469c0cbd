#pragma once
#include <exception>
#include <stdexcept>

namespace norvo {

enum class UpdateError { download, unpack, notFound, badSignature, readOnlyLocation };

// What an install refuses with; platform failures travel as other exceptions.
class UpdateFailure : public std::exception {
public:
    explicit UpdateFailure(UpdateError error) : error_(error) {}
    UpdateError error() const { return error_; }
    const char* what() const noexcept override;

private:
    UpdateError error_;
};

// A transfer that did not complete (connection, TLS, time-out, size cap).
class NetworkError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace norvo
