#include <gtest/gtest.h>
#include <glib.h>

#include "TestSupport.hpp"

// For the rooms without a UI: no display is needed.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Each test process keeps what it remembers (the declined update) to itself.
    norvo::testing::TempFolder config;
    g_setenv("XDG_CONFIG_HOME", config.path().c_str(), TRUE);
    return RUN_ALL_TESTS();
}
