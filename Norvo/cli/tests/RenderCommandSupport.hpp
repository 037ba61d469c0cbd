#pragma once
// What the tests of norvo render share: running it, reading what it wrote and reported.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <nlohmann/json.hpp>

#include "TestSupport.hpp"

namespace norvo::cli_testing {

namespace fs = std::filesystem;
using norvo::testing::runProcess;

// norvo render with these arguments (and environment and standard input).
inline norvo::testing::ProcessResult render(std::vector<std::string> args, const std::vector<std::string>& env = {},
                                            const std::string& stdinText = {}) {
    args.insert(args.begin(), {NORVO_TEST_EXECUTABLE, "render"});
    return runProcess(args, env, stdinText);
}

// True when every pixel of the PNG has the same colour (a blank page, not a card).
inline bool isUniform(const fs::path& png) {
    GError* error = nullptr;
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(png.c_str(), &error);
    if (!pixbuf) {
        g_error_free(error);
        return true;
    }
    const int w = gdk_pixbuf_get_width(pixbuf), h = gdk_pixbuf_get_height(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf), channels = gdk_pixbuf_get_n_channels(pixbuf);
    const guchar* px = gdk_pixbuf_read_pixels(pixbuf);
    bool uniform = true;
    for (int y = 0; y < h && uniform; y += 3)
        for (int x = 0; x < w && uniform; x += 3)
            uniform = std::equal(px, px + channels, px + y * stride + x * channels);
    g_object_unref(pixbuf);
    return uniform;
}

inline std::vector<fs::path> filesIn(const fs::path& folder) {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path());
    return out;
}

// The corpus's notes (its pictures lie beside them), in name order.
inline std::vector<std::string> corpusNotes() {
    std::vector<std::string> notes;
    for (const auto& e : fs::directory_iterator(NORVO_TEST_CORPUS))
        if (e.path().extension() == ".md") notes.push_back(e.path().string());
    std::sort(notes.begin(), notes.end());
    return notes;
}

// How many cards standard error says failed.
inline int failedCards(const std::string& err) {
    int n = 0;
    for (std::size_t at = err.find("norvo render: rendering "); at != std::string::npos;
         at = err.find("norvo render: rendering ", at + 1))
        ++n;
    return n;
}

// Each line of --report's output (or a stream's answers) as JSON.
inline std::vector<nlohmann::json> reportLines(const std::string& out) {
    std::vector<nlohmann::json> reports;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) reports.push_back(nlohmann::json::parse(line, nullptr, false));
    return reports;
}

// "WIDTHxHEIGHT" from a PNG's header.
inline std::string pngSize(const fs::path& png) {
    const auto header = norvo::testing::readPngHeader(norvo::testing::readFile(png));
    return std::to_string(header.width) + "x" + std::to_string(header.height);
}

}  // namespace norvo::cli_testing
