#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/init.h>

#include "TestSupport.hpp"
#include "support/ResourceBundle.hpp"

// Display tests run under Xvfb (./test arranges it). Listing the tests needs no display.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    norvo::ResourceBundle::useBuildTree(NORVO_BUILD_BUNDLE_DIR);
    // Each test process keeps what it remembers (the declined update) to itself.
    norvo::testing::TempFolder config;
    g_setenv("XDG_CONFIG_HOME", config.path().c_str(), TRUE);
    if (!::testing::GTEST_FLAG(list_tests)) {
        if (!gtk_init_check()) {
            std::fprintf(stderr, "no display: run the display tests through ./test or xvfb-run -a\n");
            return 1;
        }
        Gtk::init_gtkmm_internals();
    }
    return RUN_ALL_TESTS();
}
