#include <gtest/gtest.h>

#include <tuple>

#include "norvo/Updater.hpp"

using norvo::UpdateInfo;
namespace Updater = norvo::Updater;

TEST(UpdaterIsNewer, Table) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"1.10", "1.9", true},     {"1.9", "1.10", false},   {"1.2.1", "1.2", true},
        {"1.2", "1.2.0", false},   {"1.2.0", "1.2", false},  {"1.2", "1.2", false},
        {"2.0-beta", "2.0", false}, {"beta2", "1", false},   {"1", "beta2", true},
        {"", "0", false},          {"1", "", true},          {"1..2", "1.2", false},
        {"1..3", "1.2", true},     {".1.", "1", false},      {"1.+2", "1.1", true},
        {"1.-1", "1", false},      {"1", "1.-1", true},      {"1.99999999999999999999", "1.1", false},
        {"1.9223372036854775807", "1.9223372036854775806", true},
        {"0.-9223372036854775808", "0.-9223372036854775807", false},
        {"1.+-2", "1", false},     {"1.2 ", "1.1", false},   {"1. 2", "1.1", false},
        {"1.٣", "1.0", false},     {"10", "9.99.99", true},
    };
    for (const auto& [a, b, newer] : cases)
        EXPECT_EQ(Updater::isNewer(a, b), newer) << a << " vs " << b;
}

TEST(UpdaterManifest, ValidManifests) {
    EXPECT_EQ(Updater::parseManifest(R"({"version":"1.3","url":"https://dl.example/N-1.3.zip","notes":"Faster"})", "1.2"),
              (UpdateInfo{"1.3", "https://dl.example/N-1.3.zip", "Faster"}));
    // notes missing, null or not a string all give "", other keys are ignored
    for (const char* notes : {"", R"(,"notes":null)", R"(,"notes":3)", R"(,"notes":["x"])"}) {
        const std::string body = std::string(R"({"version":"2","url":"https://h.example/a?b=c#d","x":1)") + notes + "}";
        EXPECT_EQ(Updater::parseManifest(body, "1"), (UpdateInfo{"2", "https://h.example/a?b=c#d", ""})) << body;
    }
    EXPECT_TRUE(Updater::parseManifest(R"({"version":"2","url":"https://[::1]:8443/x.zip"})", "1"));
    EXPECT_TRUE(Updater::parseManifest(R"({"version":"2","url":"https://u@h.example:1/x%20y.zip"})", "1"));
}

TEST(UpdaterManifest, InvalidManifestsGiveNothing) {
    const char* bodies[] = {
        "", "[]", R"("text")", "null", "{", R"({"version":"2"})", R"({"url":"https://h.example/x"})",
        R"({"version":2,"url":"https://h.example/x"})",
        R"({"version":"2","url":"http://h.example/x"})",
        R"({"version":"2","url":"HTTPS://h.example/x"})",
        R"({"version":"2","url":"h.example/x"})",
        R"({"version":"2","url":"https:///x"})",
        R"({"version":"2","url":"https://h.example/a b"})",
        R"({"version":"2","url":"https://h.example/%zz"})",
        R"({"version":"2","url":"https://h.example:80a/"})",
        R"({"version":"2","url":null})",
        R"({"version":"1.2","url":"https://h.example/x"})",
        R"({"version":"1.2.0.0","url":"https://h.example/x"})",
        R"({"version":"1.1","url":"https://h.example/x"})",
        "{\"version\":\"2\",\"url\":\"https://h.example/\xff\"}",
    };
    for (const char* body : bodies) EXPECT_EQ(Updater::parseManifest(body, "1.2"), std::nullopt) << body;
}
