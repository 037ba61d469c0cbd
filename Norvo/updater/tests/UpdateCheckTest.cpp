#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "TestHttpsServer.hpp"
#include "updater/UpdateCheck.hpp"

using namespace std::chrono_literals;
namespace UpdateCheck = norvo::UpdateCheck;

namespace {

class UpdaterCheck : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = std::make_unique<norvo::testing::TestHttpsServer>("/nonexistent"); }
    static void TearDownTestSuite() { server_.reset(); }

    std::optional<norvo::UpdateInfo> check(const std::string& path, std::chrono::milliseconds timeout = 5s) {
        norvo::CurlHttpSession session(server_->caFile());
        return UpdateCheck::run(server_->url(path), "1.0", session, timeout);
    }

    static inline std::unique_ptr<norvo::testing::TestHttpsServer> server_;
};

}  // namespace

TEST_F(UpdaterCheck, StatusIsIgnoredAndHttpsRedirectsAreFollowed) {
    const norvo::UpdateInfo expected{"9.0", "https://127.0.0.1/Norvo-9.0.zip", "test"};
    EXPECT_EQ(check("/_test/manifest"), expected);
    EXPECT_EQ(check("/_test/manifest-404"), expected);
    EXPECT_EQ(check("/_test/to-https"), expected);
}

TEST_F(UpdaterCheck, FailedTransfersGiveNothing) {
    EXPECT_EQ(check("/_test/to-http"), std::nullopt);
    EXPECT_EQ(check("/_test/loop"), std::nullopt);
    EXPECT_EQ(check("/_test/big"), std::nullopt);
    EXPECT_EQ(check("/_test/slow", 500ms), std::nullopt);  // the reply comes after 3 s

    norvo::CurlHttpSession session(server_->caFile());
    // Nothing listens on port 1.
    EXPECT_EQ(UpdateCheck::run("https://127.0.0.1:1/x", "1.0", session), std::nullopt);
    EXPECT_EQ(UpdateCheck::run("http://127.0.0.1:" + std::to_string(server_->port()) + "/_test/manifest", "1.0", session),
              std::nullopt);
    // Without the private CA the certificate is not trusted.
    norvo::CurlHttpSession untrusting;
    EXPECT_EQ(UpdateCheck::run(server_->url("/_test/manifest"), "1.0", untrusting), std::nullopt);
}
