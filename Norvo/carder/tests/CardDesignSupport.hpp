#pragma once
// What the card design tests share: the corpus, drawing a card or a set with its layout
// report, pictures to put on cards, and contrast read from pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <nlohmann/json.hpp>

#include "TestSupport.hpp"
#include "WebTestSupport.hpp"
#include "engine/PageProtocol.hpp"
#include "engine/RenderEngine.hpp"
#include "norvo/Catalogue.hpp"
#include "support/GPtr.hpp"

namespace norvo::design {

using namespace std::chrono_literals;
using norvo::testing::evaluate;
using norvo::testing::runUntil;

inline std::map<std::string, std::string> corpus() {
    std::map<std::string, std::string> notes;
    for (const auto& entry : std::filesystem::directory_iterator(NORVO_TEST_CORPUS)) {
        if (entry.path().extension() != ".md") continue;  // the notes' pictures lie beside them
        std::ifstream in(entry.path(), std::ios::binary);
        notes[entry.path().stem().string()] = std::string(std::istreambuf_iterator<char>(in), {});
    }
    return notes;
}

inline nlohmann::json asJson(const LayoutReport& report) {
    return nlohmann::json::parse("{" + PageProtocol::reportMembers(report, true) + "}");
}

struct Rendered {
    CardImagePtr image;
    nlohmann::json report;
};

inline Rendered render(RenderEngine& engine, const CardRequest& request) {
    Rendered out;
    bool done = false;
    engine.renderWithReport(request, [&](RenderedCard card) {
        out.image = std::move(card.image);
        if (out.image) out.report = asJson(card.report);
        done = true;
    });
    EXPECT_TRUE(runUntil([&] { return done; }, 30s));
    return out;
}

inline Rendered render(RenderEngine& engine, const std::string& markdown, const std::string& theme, const Preset& preset,
                       double scale = 1.0) {
    return render(engine, CardRequest{.markdown = markdown, .settings = {.theme = theme, .size = preset, .scale = scale}});
}

// The card alone: no report, so nothing is measured on the page after the layout.
inline CardImagePtr draw(RenderEngine& engine, const CardRequest& request) {
    CardImagePtr image;
    bool done = false;
    engine.render(request, [&](CardImagePtr drawn) {
        image = std::move(drawn);
        done = true;
    });
    EXPECT_TRUE(runUntil([&] { return done; }, 30s));
    return image;
}

// A set's cards (one card for a note that fits one) and their reports.
struct PageSet {
    std::vector<CardImagePtr> images;
    std::vector<nlohmann::json> reports;
};

inline PageSet renderPages(RenderEngine& engine, const CardRequest& request) {
    PageSet out;
    bool done = false;
    engine.renderPages(request, [&](std::vector<RenderedCard> cards) {
        for (RenderedCard& c : cards) {
            out.images.push_back(std::move(c.image));
            out.reports.push_back(asJson(c.report));
        }
        done = true;
    });
    EXPECT_TRUE(runUntil([&] { return done; }, 180s));
    return out;
}

inline PageSet renderPages(RenderEngine& engine, const std::string& markdown, const Preset& preset) {
    return renderPages(engine, CardRequest{.markdown = markdown, .settings = {.theme = "ink", .size = preset}});
}

inline CardRequest withCorpusPictures(CardRequest request) {
    request.pictures.noteFolder = NORVO_TEST_CORPUS;
    return request;
}

// A case's name from its note or size: letters, digits and underscores.
inline std::string caseName(const ::testing::TestParamInfo<const char*>& info) {
    std::string name = info.param;
    std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
}

// Whether the running case is the soak tier's: its suite or instance is named Soak.
inline bool soakCase() {
    return std::string(::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name()).find("Soak") !=
           std::string::npos;
}

// The smallest body text the fitting may choose.
inline double floorFor(const Preset& preset) { return preset.width > preset.height ? 22 : 26; }

// WCAG relative luminance of a BGRA pixel (opaque cards).
inline double luminance(const std::uint8_t* bgra) {
    auto channel = [](std::uint8_t v) {
        const double c = v / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(bgra[2]) + 0.7152 * channel(bgra[1]) + 0.0722 * channel(bgra[0]);
}

inline double contrast(double a, double b) { return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05); }

// The contrast of the glyphs in each box ([left, top, width, height]) of `shown` against the
// same box of `behind`, the card with its text hidden: the pixels that differ most are the
// glyphs' cores (the fortieth that differs most). The weakest box's figure, or 100 when no
// box is large enough to measure.
inline double weakestGlyphContrast(const CardImage& shown, const CardImage& behind, const nlohmann::json& boxes) {
    double weakest = 100;
    for (const auto& r : boxes) {
        const int x0 = std::max(0, int(std::floor(double(r[0])))), y0 = std::max(0, int(std::floor(double(r[1]))));
        const int x1 = std::min(shown.width(), int(std::ceil(double(r[0]) + double(r[2]))));
        const int y1 = std::min(shown.height(), int(std::ceil(double(r[1]) + double(r[3]))));
        std::vector<double> pixels;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                pixels.push_back(contrast(luminance(shown.row(y) + 4 * x), luminance(behind.row(y) + 4 * x)));
        if (pixels.size() < 160) continue;
        std::sort(pixels.begin(), pixels.end(), std::greater<>());
        weakest = std::min(weakest, pixels[pixels.size() / 40]);
    }
    return weakest;
}

// A script that hides every text of the card (and what the `more` rules hide), and one that
// shows it again.
inline std::string hideTextScript(const std::string& more = "") {
    return "(()=>{const s=document.createElement('style');s.id='hide-text';s.textContent="
           "'#card *{color:transparent!important;-webkit-text-fill-color:transparent!important;"
           "text-decoration-color:transparent!important}" + more +
           "';document.head.appendChild(s);return 1})()";
}
inline const char* const kShowText = "document.getElementById('hide-text').remove();1";

// The mean difference per channel (0-255) between two images of one size.
inline double meanDifference(const CardImage& a, const CardImage& b) {
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width() * 4; ++x) sum += std::abs(int(a.row(y)[x]) - int(b.row(y)[x]));
    return sum / (double(a.width()) * a.height() * 4);
}

// A JPEG of `width` x `height` whose colour at (x, y) is `color(x, y)` (0xRRGGBB).
template <typename Color>
void writeJpeg(const std::filesystem::path& file, int width, int height, Color color) {
    GObjectPtr<GdkPixbuf> pixbuf(gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height));
    guchar* px = gdk_pixbuf_get_pixels(pixbuf.get());
    const int stride = gdk_pixbuf_get_rowstride(pixbuf.get());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint32_t c = color(x, y);
            guchar* p = px + y * stride + 3 * x;
            p[0] = guchar(c >> 16), p[1] = guchar(c >> 8), p[2] = guchar(c);
        }
    ASSERT_TRUE(gdk_pixbuf_save(pixbuf.get(), file.c_str(), "jpeg", nullptr, "quality", "92", nullptr));
}

// The centre and size of each picture on the card the page drew last.
inline std::vector<std::array<double, 4>> pictureBoxes(RenderEngine& engine) {
    const auto boxes = nlohmann::json::parse(evaluate(engine.webView(), R"(JSON.stringify(
        Array.from(document.querySelectorAll('#content img.picture')).map(function (img) {
          const r = img.getBoundingClientRect();
          return [r.left + r.width / 2, r.top + r.height / 2, r.width, r.height];
        })))"));
    std::vector<std::array<double, 4>> out;
    for (const auto& b : boxes) out.push_back({b[0].get<double>(), b[1].get<double>(), b[2].get<double>(), b[3].get<double>()});
    return out;
}

// Whether the card's pixel at (x, y) is `rgba`, give or take a step of rounding.
inline bool hasColour(const CardImage& card, double x, double y, guint32 rgba) {
    const std::uint8_t* px = card.row(int(y)) + 4 * int(x);  // BGRA
    const int r = int(rgba >> 24), g = int((rgba >> 16) & 0xff), b = int((rgba >> 8) & 0xff);
    return std::abs(px[2] - r) <= 2 && std::abs(px[1] - g) <= 2 && std::abs(px[0] - b) <= 2;
}

// The view as it is now, without drawing anything again.
inline CardImagePtr snapshotNow(WebKitWebView* view) {
    GObjectPtr<GdkTexture> texture;
    bool done = false;
    struct Wait {
        GObjectPtr<GdkTexture>* texture;
        bool* done;
    } wait{&texture, &done};
    webkit_web_view_get_snapshot(view, WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
                                 +[](GObject* source, GAsyncResult* result, gpointer data) {
                                     auto* w = static_cast<Wait*>(data);
                                     w->texture->reset(webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, nullptr));
                                     *w->done = true;
                                 },
                                 &wait);
    EXPECT_TRUE(runUntil([&] { return done; }, 10s));
    if (!texture) return nullptr;
    auto image = std::make_shared<CardImage>(gdk_texture_get_width(texture.get()), gdk_texture_get_height(texture.get()));
    gdk_texture_download(texture.get(), image->data(), std::size_t(image->stride()));
    return image;
}

}  // namespace norvo::design
