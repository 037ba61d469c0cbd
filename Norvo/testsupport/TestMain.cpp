#include <gtest/gtest.h>
#include <glib.h>

#include "TestSupport.hpp"
#include "support/ResourceBundle.hpp"

// For the rooms without a UI: no display is needed.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    norvo::ResourceBundle::useBuildTree(NORVO_BUILD_BUNDLE_DIR);
    // Each test process keeps what it remembers (the declined update) to itself.
    norvo::testing::TempFolder config;
    g_setenv("XDG_CONFIG_HOME", config.path().c_str(), TRUE);
    return RUN_ALL_TESTS();
}
