#pragma once
// What the tests of norvo render share: running it, reading what it wrote and reported.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtk/gtk.h>
#include <nlohmann/json.hpp>

#include "TestSupport.hpp"
#include "norvo/Presets.hpp"

namespace norvo::cli_testing {

namespace fs = std::filesystem;
using norvo::testing::ChildProcess;
using norvo::testing::readFile;
using norvo::testing::readPngHeader;
using norvo::testing::readText;
using norvo::testing::runProcess;
using norvo::testing::TempFolder;
using norvo::testing::waitFor;
using norvo::testing::writeFile;

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

inline bool has(std::string_view text, std::string_view part) { return text.find(part) != std::string::npos; }

inline long lineCount(std::string_view text) { return std::count(text.begin(), text.end(), '\n'); }

// "WIDTHxHEIGHT" from a PNG's header.
inline std::string pngSize(const fs::path& png) {
    const auto header = readPngHeader(readFile(png));
    return std::to_string(header.width) + "x" + std::to_string(header.height);
}

}  // namespace norvo::cli_testing
