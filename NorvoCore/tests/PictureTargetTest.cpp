#include <gtest/gtest.h>

#include <tuple>

#include "norvo/PictureTarget.hpp"

using norvo::PictureTarget;

TEST(PictureTarget, OnlyRelativePathsAreLookedUp) {
    using K = PictureTarget::Kind;
    const std::tuple<const char*, K, const char*> cases[] = {
        {"photo.jpg", K::Relative, "photo.jpg"},
        {"images/my%20cat.png?raw=1#top", K::Relative, "images/my cat.png"},
        {"caf%C3%A9.png", K::Relative, "caf\xC3\xA9.png"},
        {"../up.png", K::Relative, "../up.png"},  // the folder check decides, after links are resolved
        {"100%.png", K::Relative, "100%.png"},     // a lone percent stays as typed
        {"https://example.com/a.png", K::Remote, ""},
        {"HTTP://example.com/a.png", K::Remote, ""},
        {"//example.com/a.png", K::Remote, ""},
        {"file:///etc/passwd", K::Refused, ""},
        {"/etc/passwd", K::Refused, ""},
        {"%2Fetc/passwd", K::Refused, ""},  // an absolute path however it is spelled
        {"~/photo.png", K::Refused, ""},
        {"data:image/png;base64,AAAA", K::Refused, ""},
        {"a%00b.png", K::Refused, ""},
        {"", K::Refused, ""},
        {"?only", K::Refused, ""},
    };
    for (const auto& [target, kind, path] : cases) {
        const PictureTarget t = PictureTarget::of(target);
        EXPECT_EQ(t.kind, kind) << target;
        EXPECT_EQ(t.path, path) << target;
        EXPECT_EQ(t.reason.empty(), kind == K::Relative) << target;
    }
}
